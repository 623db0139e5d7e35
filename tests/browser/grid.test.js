// The step grid against the real plug-in: what is painted, typed, undone
// and redone in the page is what the controller echoes, what a saved state
// brings back in another instance and what the processor plays.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { before, describe, test } from "node:test";
import { ARTIFACTS, LARGE, SMALL, expectShown, facts, noteOnTicks, useRig } from "./harness.js";

const { FACTORY_PATTERN, KEY, RECEIVE, SEND } = facts;
const rig = useRig();

const LENGTH = 4;
const cell = (page, field, step) => page.locator(`[data-field="${field}"] .cell[data-step="${step}"]`);
// Every cell's value by lane, as the grid shows it.
const shownGrid = (page) => page.evaluate(() => Object.fromEntries([...document.querySelectorAll(".lane")]
  .map((lane) => [lane.dataset.field, [...lane.querySelectorAll(".cell")].map((c) => Number(c.dataset.value))])));
const lane = (grid, field) => grid[field].slice(0, LENGTH);
// The controller's last echo of pattern 1, once test(pattern) holds for it.
async function echoed(session, test, what) {
  const last = () => session.received.filter((m) => m.type === RECEIVE.pattern && m.pattern.index === 0).pop();
  for (let i = 0; i < 100 && !(last() && test(last().pattern)); i += 1) await new Promise((r) => setTimeout(r, 30));
  assert.ok(last() && test(last().pattern), `the controller's echo shows ${what}`);
  return last().pattern;
}
const stepsOf = (pattern, field) => pattern.steps.slice(0, LENGTH).map((s) => s[field]);

// Drags through the first LENGTH cells of a lane; y(step, box) is the
// height at each, from the cell's box.
async function drag(page, field, y) {
  const boxes = [];
  for (let step = 0; step < LENGTH; step += 1) boxes.push(await cell(page, field, step).boundingBox());
  const x = (box) => box.x + box.width / 2;
  await page.mouse.move(x(boxes[0]), y(0, boxes[0]));
  await page.mouse.down();
  for (let step = 1; step < LENGTH; step += 1) await page.mouse.move(x(boxes[step]), y(step, boxes[step]));
  await page.mouse.up();
}

describe("the step grid", () => {
  let page, session;
  const melody = [60, 64, 68, 72]; // four semitones a step in the chromatic scale
  before(async () => { ({ page, session } = await rig.open("grid")); });

  test("notes, gates and velocities painted by dragging are the controller's plane", async () => {
    await page.locator(`[data-param="${KEY.length}"] [role=slider]`).focus();
    await page.keyboard.type(String(LENGTH));
    await page.keyboard.press("Enter");
    // Up 28 px a step: four scale steps at 7 px each.
    await drag(page, "note", (step, box) => box.y + box.height / 2 - 28 * step);
    await drag(page, "gate", (_, box) => box.y + 1);
    await drag(page, "velocity", (_, box) => box.y + 1);
    const grid = await shownGrid(page);
    assert.deepEqual([lane(grid, "note"), lane(grid, "gate"), lane(grid, "velocity")],
      [melody, Array(LENGTH).fill(200), Array(LENGTH).fill(127)]);
    const pattern = await echoed(session, (p) => stepsOf(p, "velocity").every((v) => v === 127), "the velocities");
    assert.deepEqual([stepsOf(pattern, "note"), stepsOf(pattern, "gate"), pattern.length], [melody, [200, 200, 200, 200], LENGTH]);
    assert.equal(await page.locator('[data-field="note"] .cell.beyond').count(), facts.PLANE_STEPS - LENGTH);
  });

  test("one undo takes back one drag, redo brings it back, by the controller's plane", async () => {
    const factory = (field) => FACTORY_PATTERN.steps.slice(0, LENGTH).map((s) => s[field]);
    await page.keyboard.press("Control+z");
    await page.keyboard.press("Control+z");
    let pattern = await echoed(session, (p) => stepsOf(p, "gate").every((g) => g === factory("gate")[0]), "the gates undone");
    assert.deepEqual(stepsOf(pattern, "note"), melody, "the notes stay");
    assert.deepEqual(lane(await shownGrid(page), "gate"), factory("gate"));
    await page.getByRole("button", { name: "Undo" }).click();
    await echoed(session, (p) => stepsOf(p, "note").join() === factory("note").join(), "the notes undone");
    await page.keyboard.press("Control+Shift+z");
    await page.getByRole("button", { name: "Redo" }).click();
    await page.keyboard.press("Control+y");
    pattern = await echoed(session, (p) => stepsOf(p, "velocity").every((v) => v === 127), "all redone");
    assert.deepEqual([stepsOf(pattern, "note"), stepsOf(pattern, "gate")], [melody, [200, 200, 200, 200]]);
    assert.equal(await page.getByRole("button", { name: "Redo" }).isDisabled(), true);
    // Undo sends the values from before, one field at a time.
    const undone = session.sent.filter((m) => m.type === SEND.setStepField && m.field === "gate" && m.value !== 200);
    assert.deepEqual(undone.map((m) => m.step), [0, 1, 2, 3]);
  });

  test("values typed from the keyboard", async () => {
    await cell(page, "note", 0).click(); // a click on a note changes nothing
    const cases = [
      // keys, then [field, step, value] expected
      [["e", "b", "3", "Enter"], ["note", 0, 51]],
      [["+"], ["note", 1, 65]], // Enter moved on to step 2
      [["PageDown"], ["note", 1, 53]],
      [["ArrowDown", "Enter", "Control+a", "9", "0", "Enter"], ["velocity", 1, 90]],
      [["ArrowUp", "ArrowUp", "ArrowUp", " "], ["on", 2, 0]],
      [["ArrowDown", "ArrowDown", "ArrowDown", "1", "5", "Enter"], ["gate", 2, 15]],
      [["Delete"], ["gate", 3, FACTORY_PATTERN.steps[3].gate]],
    ];
    for (const [keys, [field, step, value]] of cases) {
      for (const key of keys) await page.keyboard.press(key);
      assert.equal(Number(await cell(page, field, step).getAttribute("data-value")), value, `${keys.join(" ")}: ${field} ${step + 1}`);
    }
    await echoed(session, (p) => p.steps[0].note === 51 && p.steps[3].gate === FACTORY_PATTERN.steps[3].gate, "the typed values");
    await page.screenshot({ path: path.join(ARTIFACTS, "grid-1120x760.png") });
    await page.setViewportSize(SMALL);
    await page.screenshot({ path: path.join(ARTIFACTS, "grid-620x420.png") });
    await page.setViewportSize(LARGE);
  });

  test("a saved state brings the same grid back in another instance", async () => {
    await page.getByRole("button", { name: "Store" }).click();
    const { state } = await session.waitFor((m) => m.type === RECEIVE.state, "state");
    const other = await rig.open("grid-reload");
    const fresh = await shownGrid(other.page);
    await other.page.evaluate(([type, state]) => window.norvaHost.postMessage({ type, state }), [SEND.setState, state]);
    await other.session.waitFor((m) => m.type === RECEIVE.plane, "plane");
    await other.page.waitForFunction(([key, length]) => document.querySelector(`[data-param="${key}"]`).dataset.value === length,
      [KEY.length, String(LENGTH)]);
    const shown = await shownGrid(page);
    assert.notDeepEqual(fresh, shown);
    assert.deepEqual(await shownGrid(other.page), shown);
    await other.page.close();
  });

  test("each pattern selected in the overview keeps its own steps and length; a duplicate is undone", async () => {
    const painted = await shownGrid(page);
    const pick = (n) => page.locator(`.pattern[data-pattern="${n}"]`).click();
    await pick(1);
    await expectShown(page, KEY.length, FACTORY_PATTERN.length);
    assert.deepEqual((await shownGrid(page)).velocity, FACTORY_PATTERN.steps.map((s) => s.velocity));
    await cell(page, "note", 0).focus();
    await page.keyboard.type("d5");
    await page.keyboard.press("Enter");
    await page.getByRole("button", { name: "Duplicate" }).click();
    await expectShown(page, KEY.pattern, 2);
    const copy = await session.waitFor((m) => m.type === RECEIVE.pattern && m.pattern.index === 2, "the duplicate");
    assert.equal(copy.pattern.steps[0].note, 74);
    await page.keyboard.press("Control+z");
    await session.waitFor((m) => m.type === RECEIVE.pattern && m.pattern.index === 2 && m.pattern.steps[0].note === 60,
      "the duplicate undone");
    await pick(0);
    await expectShown(page, KEY.length, LENGTH);
    assert.deepEqual(await shownGrid(page), painted);
  });

  test("the processor plays what the grid shows", async () => {
    await page.waitForTimeout(1200);
    const grid = await shownGrid(page);
    await page.close();
    assert.equal(await session.exited, 0, session.stderr);
    const { ons, offs, division } = noteOnTicks(readFileSync(session.render));
    const step = division / 4; // sixteenths
    // The last full turn of the four steps, those that are on, with their velocity and gate.
    const expected = grid.note.slice(0, LENGTH).map((note, i) => [note, grid.velocity[i], grid.gate[i], grid.on[i]])
      .filter(([, , , on]) => on).map(([note, velocity, gate]) => [note, velocity, (step * gate) / 100]);
    // (The last notes may have been cut short when the probe stopped.)
    const played = ons.slice(-expected.length - 3, -3).map(([tick, velocity, note]) =>
      [note, velocity, offs.find(([t, n]) => t > tick && n === note)[0] - tick]);
    played.sort((a, b) => a[0] - b[0]);
    expected.sort((a, b) => a[0] - b[0]);
    assert.deepEqual(played, expected);
  });
});
