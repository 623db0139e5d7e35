// The page's own reckoning, without a browser: typed note names, steps
// through a scale, and the walk through chained patterns that lights the
// step being played. The modules are the ones the bundle ships.
import assert from "node:assert/strict";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { test } from "node:test";
import { UI_ROOT } from "./harness.js";

const load = (file) => import(pathToFileURL(path.join(UI_ROOT, file)).href);
const { noteName, readNote } = await load("display.js");
const { scaleStep } = await load("grid.js");
const { StepClock } = await load("walk.js");

test("note names read and written", () => {
  const typed = [["60", 60], ["C4", 60], ["c#4", 61], ["E♭3", 51], ["bb2", 46], ["b3", 59], ["c-1", 0], ["C−1", 0],
    ["g", 67], ["h4", NaN], ["", NaN], ["4.5", NaN]];
  for (const [text, note] of typed) assert.equal(readNote(text, 64), note, text);
  assert.deepEqual([0, 60, 61, 63, 127].map(noteName), ["C-1", "C4", "C♯4", "E♭4", "G9"]);
});

test("steps through a scale", () => {
  const major = 0b101010110101; // C D E F G A B
  const cases = [[60, 1, 0, major, 62], [60, 2, 0, major, 64], [64, 1, 0, major, 65], [60, -1, 0, major, 59],
    [61, 1, 0, major, 62], [61, -1, 0, major, 60], [60, 1, 2, major, 61], [126, 5, 0, major, 127], [60, 4, 0, 0xfff, 64]];
  for (const [note, k, root, mask, expected] of cases) assert.equal(scaleStep(note, k, root, mask), expected, `${note} ${k}`);
});

test("the walk through chained patterns", () => {
  // Pattern 1: 4 steps forward; pattern 2: 2 steps backward; pattern 3: 3
  // steps ping-pong. Steps last 10 units.
  const plans = [{ length: 4, direction: 0 }, { length: 2, direction: 1 }, { length: 3, direction: 2 }];
  const settings = (chain) => ({ selected: 0, chain, plan: (p) => ({ ...plans[p], step: 10 }), origin: 0,
    startsNow: true, jump: 1000 });
  const cases = [
    // chain, readings [time, pattern, position]
    [{ on: 0, start: 0, end: 1 }, [[5, 0, 0], [35, 0, 3], [45, 0, 0]]],
    [{ on: 1, start: 0, end: 1 }, [[5, 0, 0], [35, 0, 3], [45, 1, 1], [55, 1, 0], [65, 0, 0]]],
    [{ on: 1, start: 1, end: 2 }, [[45, 1, 1], [65, 2, 0], [85, 2, 2], [95, 1, 1], [105, 1, 0]]],
  ];
  for (const [chain, readings] of cases) {
    const clock = new StepClock();
    clock.halt(0);
    clock.advance(0, settings(chain));
    const walked = readings.map(([time]) => clock.advance(time, settings(chain)));
    assert.deepEqual(walked, readings.map(([, pattern, position]) => ({ pattern, position })), JSON.stringify(chain));
  }
  // A clock that finds the walk running counts from the origin; a change of
  // any parameter takes it back to the selected pattern.
  const clock = new StepClock();
  assert.deepEqual(clock.advance(45, settings({ on: 1, start: 0, end: 1 })), { pattern: 1, position: 1 });
  clock.rejoin(0);
  assert.deepEqual(clock.advance(47, settings({ on: 1, start: 0, end: 1 })), { pattern: 0, position: 0 });
});
