// Where the sequencer's walk stands, estimated from the host transport's
// frames: the sequencer counts steps on its own clock from the frame it was
// started at (or on the host's grid from the bar it started in), so the
// page counts them the same way between two transport frames, at the tempo
// and the resolutions in force. Forward, backward and the two ping-pongs
// follow from the count; the random directions cannot be told and give no
// position.
import { STEPS_PER_BEAT } from "./facts.js";

// Frames per step, rounded as the sequencer rounds them.
export function stepFrames(sampleRate, bpm, resolution) {
  const beat = Math.max(1, Math.floor((sampleRate * 60) / bpm + 0.5));
  return Math.max(1, Math.floor(beat / STEPS_PER_BEAT[resolution] + 0.5));
}

// The position of step number count (from 0) in a pattern of length steps.
export function walkPosition(count, length, direction) {
  if (length <= 1) return 0;
  switch (direction) {
    case 0: return count % length;
    case 1: return length - 1 - (count % length);
    case 2: {
      const k = count % (2 * length - 2);
      return k < length ? k : 2 * length - 2 - k;
    }
    case 3: {
      const k = count % (2 * length);
      return k < length ? k : 2 * length - 1 - k;
    }
    default: return -1;
  }
}

// The pattern the walk goes on to after one, in a chain from start to end.
export function chainNext(pattern, start, end) {
  const next = pattern + 1;
  return next > end || next < start ? start : next;
}

// The walk's clock, read on every transport frame. Time runs in the units of
// the clock the sequencer follows: frames on its own clock, quarter notes on
// the host's. The clock counts steps as the sequencer does: a chained
// pattern starts anew once its length has played; any parameter change takes
// the walk back to the selected pattern (rejoin).
export class StepClock {
  constructor() {
    this.count = null; // steps since the playing pattern started, fractional; null: not running
    this.pattern = 0;
    this.time = 0;
    this.stopped = false; // the page saw the sequencer stopped
  }

  rejoin(selected) {
    this.pattern = selected;
  }

  // The sequencer is not running: the next start begins at its time.
  halt(time) {
    this.stopped = true;
    this.count = null;
    this.time = time;
  }

  // One reading. settings: selected, chain {on, start, end}, plan(pattern)
  // giving {length, direction, step (its duration)}, origin (where a walk
  // began that the page did not see start: frame 0, or the host's bar),
  // startsNow (a start the page saw begins at that reading, not at the
  // origin), jump (a larger leap is a new start). Gives {pattern, position} (-1: a random
  // direction, which cannot be told).
  advance(time, settings) {
    let moved = time - this.time;
    if (this.count === null || !(moved >= 0 && moved < settings.jump)) {
      this.count = 0;
      this.pattern = settings.selected;
      moved = this.stopped && settings.startsNow ? 0 : time - settings.origin;
    }
    this.stopped = false;
    this.time = time;
    const chain = settings.chain;
    for (let guard = 0; moved > 0 && guard < 1e6; guard += 1) {
      const plan = settings.plan(this.pattern);
      const left = (plan.length - this.count) * plan.step;
      if (!chain.on || moved < left) {
        this.count += moved / plan.step;
        break;
      }
      moved -= Math.max(0, left);
      this.count = 0;
      this.pattern = chainNext(this.pattern, chain.start, chain.end);
    }
    const plan = settings.plan(this.pattern);
    return { pattern: this.pattern, position: walkPosition(Math.floor(this.count), plan.length, plan.direction) };
  }
}
