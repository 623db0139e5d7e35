// Where the sequencer's walk stands, estimated from the host transport's
// frames: the sequencer counts steps on its own clock from the frame it was
// started at, so the page counts them the same way between two transport
// frames, at the tempo and resolution in force. Forward, backward and the
// two ping-pongs follow from the count; the random directions cannot be
// told and give no position.
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

export class StepClock {
  constructor() {
    this.count = null; // steps since the start, fractional; null: not running
    this.frame = 0;
    this.stopped = false; // the page saw the sequencer stopped
  }

  // One transport frame; settings holds run, bpm, resolution, length and
  // direction. Gives the position being played, or -1.
  advance(atFrame, sampleRate, settings) {
    if (!settings.run || !(sampleRate > 0)) {
      this.stopped = !settings.run;
      this.count = null;
      this.frame = atFrame;
      return -1;
    }
    const frames = stepFrames(sampleRate, settings.bpm, settings.resolution);
    const moved = atFrame - this.frame;
    if (this.count === null) {
      // Started now, or running since before the page opened: then taken
      // to have started at frame 0.
      this.count = this.stopped ? 0 : atFrame / frames;
    } else if (moved >= 0 && moved < sampleRate * 10) {
      this.count += moved / frames;
    } else {
      this.count = atFrame / frames;
    }
    this.stopped = false;
    this.frame = atFrame;
    return walkPosition(Math.floor(this.count), settings.length, settings.direction);
  }
}
