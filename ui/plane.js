// The authored plane as the page holds it: every pattern as the controller
// last echoed it ("norva.pattern", "norva.plane"), the page's own values
// until their echoes are in, the edits (one field at a time, or a pattern
// operation) and the page's undo history. The selected pattern's velocities
// are the step-velocity parameters and its length is the Length parameter:
// those are what the sequencer plays, so the page reads them from the
// parameter model (the controller moves them with every edit of that
// pattern, and to the new pattern's when Pattern changes).
import { FACTORY_PATTERN, FIRST_STEP_PARAM, KEY, PARAMS, PATTERN_FIELDS, PLANE_PATTERNS, PLANE_STEPS, RECEIVE, SEND,
  STEP_FIELDS } from "./facts.js";

export const STEP_KEYS = PARAMS.slice(FIRST_STEP_PARAM, FIRST_STEP_PARAM + PLANE_STEPS).map((row) => row.key);
export const FIELD = Object.fromEntries(STEP_FIELDS.map((field) => [field.name, field]));
export const PATTERN_FIELD = Object.fromEntries(PATTERN_FIELDS.map((field) => [field.name, field]));
const HISTORY_DEPTH = 200;

const copyOf = (pattern) => JSON.parse(JSON.stringify(pattern));
const clamp = (field, value) => Math.min(field.max, Math.max(field.min, Math.round(value)));
const cellKey = (pattern, step, field) => (step === null ? `${pattern}:${field}` : `${pattern}:${step}:${field}`);

export function factoryValue(field, step) {
  return FACTORY_PATTERN.steps[step][field];
}

export class PlaneModel {
  constructor(bridge, model) {
    this.bridge = bridge;
    this.model = model;
    this.patterns = Array.from({ length: PLANE_PATTERNS }, (_, index) => ({ ...copyOf(FACTORY_PATTERN), index }));
    this.own = new Map(); // cell key -> the value the page set, until the pattern's echoes are all in
    this.awaiting = new Array(PLANE_PATTERNS).fill(0); // echoes still to come, by pattern
    this.pending = []; // operations waiting for their echo: {target, skip (echoes before it), entry}
    this.undoStack = [];
    this.redoStack = [];
    this.entry = null; // the gesture being recorded
    this.listeners = [];
    this.copied = null; // the pattern last copied, as the page saw it
    bridge.on(RECEIVE.hello, () => bridge.send(SEND.getPlane));
    bridge.on(RECEIVE.pattern, (message) => this.adoptPattern(message.pattern));
    bridge.on(RECEIVE.plane, (message) => this.adoptPlane(message.patterns));
    // The controller's clipboard, after a copy and with the plane: a paste
    // shows what it will hold, also after the editor was reopened.
    bridge.on(RECEIVE.clipboard, (message) => {
      this.copied = message.holds ? message.data : null;
      this.changed(null);
    });
    // A refused edit changed nothing; the pattern it named comes back as it
    // stands, which settles what the page showed for it.
    bridge.on(RECEIVE.refused, (message) => console.warn(`${message.request} refused: ${message.reason}`));
    model.watch(KEY.pattern, () => this.changed(null));
    model.watch(KEY.length, () => this.changed(null));
    STEP_KEYS.forEach((key) => model.watch(key, () => this.changed(this.selected)));
  }

  get selected() {
    return this.model.value(KEY.pattern);
  }

  // Calls listener(pattern) after every change of a pattern (null: of which
  // pattern is selected, or of all).
  watch(listener) {
    this.listeners.push(listener);
  }

  changed(pattern) {
    for (const listener of this.listeners) listener(pattern);
  }

  // A step's field as the sequencer has it (or will, once the page's edit
  // is through).
  step(pattern, step, field) {
    const own = this.own.get(cellKey(pattern, step, field));
    if (own !== undefined) return own;
    if (field === "velocity" && pattern === this.selected) return this.model.value(STEP_KEYS[step]);
    return this.patterns[pattern].steps[step][field];
  }

  // A pattern's own field (length, resolution, direction).
  row(pattern, field) {
    const own = this.own.get(cellKey(pattern, null, field));
    if (own !== undefined) return own;
    if (field === "length" && pattern === this.selected) return this.model.value(KEY.length);
    return this.patterns[pattern][field];
  }

  // The whole pattern as the sequencer has it.
  view(pattern) {
    const out = { index: pattern, steps: [] };
    for (const field of PATTERN_FIELDS) out[field.name] = this.row(pattern, field.name);
    for (let step = 0; step < PLANE_STEPS; step += 1) {
      out.steps.push(Object.fromEntries(STEP_FIELDS.map((field) => [field.name, this.step(pattern, step, field.name)])));
    }
    return out;
  }

  adoptPattern(pattern) {
    if (!pattern || !(pattern.index >= 0 && pattern.index < PLANE_PATTERNS)) return;
    const index = pattern.index;
    this.patterns[index] = pattern;
    this.awaiting[index] = Math.max(0, this.awaiting[index] - 1);
    if (this.awaiting[index] === 0) {
      for (const key of [...this.own.keys()]) if (key.startsWith(`${index}:`)) this.own.delete(key);
    }
    // A pattern operation's outcome is known once its own echo is in.
    for (const operation of this.pending.filter((item) => item.target === index)) {
      if (operation.skip-- > 0) continue;
      this.pending.splice(this.pending.indexOf(operation), 1);
      operation.entry.after = copyOf(pattern);
    }
    this.changed(index);
  }

  // A whole plane: the page's start, or a state restored. The history of
  // edits made to the plane before it no longer applies.
  adoptPlane(patterns) {
    if (!Array.isArray(patterns) || patterns.length !== PLANE_PATTERNS) return;
    this.patterns = patterns;
    this.own.clear();
    this.awaiting.fill(0);
    this.pending = [];
    this.undoStack = [];
    this.redoStack = [];
    this.changed(null);
  }

  // Gestures: every edit between begin and end is one undo entry.
  begin(label) {
    if (!this.entry) this.entry = { label, changes: new Map() };
  }

  end() {
    const entry = this.entry;
    this.entry = null;
    if (!entry || (entry.changes.size === 0 && entry.pattern === undefined)) return;
    this.undoStack.push(entry);
    if (this.undoStack.length > HISTORY_DEPTH) this.undoStack.shift();
    this.redoStack = [];
    this.changed(null);
  }

  setStep(pattern, step, field, value) {
    const held = clamp(FIELD[field], value);
    const before = this.step(pattern, step, field);
    if (held === before) return;
    this.record(cellKey(pattern, step, field), { pattern, step, field }, before, held);
    this.sendStep(pattern, step, field, held);
  }

  setRow(pattern, field, value) {
    const held = clamp(PATTERN_FIELD[field], value);
    const before = this.row(pattern, field);
    if (held === before) return;
    this.record(cellKey(pattern, null, field), { pattern, step: null, field }, before, held);
    this.sendRow(pattern, field, held);
  }

  record(key, target, before, after) {
    const single = !this.entry;
    this.begin(`${target.field}`);
    const change = this.entry.changes.get(key);
    if (change) change.after = after;
    else this.entry.changes.set(key, { ...target, before, after });
    if (single) this.end();
  }

  sendStep(pattern, step, field, value) {
    this.own.set(cellKey(pattern, step, field), value);
    this.awaiting[pattern] += 1;
    this.bridge.send(SEND.setStepField, { pattern, step, field, value });
    this.changed(pattern);
  }

  sendRow(pattern, field, value) {
    this.own.set(cellKey(pattern, null, field), value);
    this.awaiting[pattern] += 1;
    this.bridge.send(SEND.setPatternField, { pattern, field, value });
    this.changed(pattern);
  }

  // Shows data as the pattern's until the controller's echo is in.
  expect(pattern, data) {
    for (const field of PATTERN_FIELDS) this.own.set(cellKey(pattern, null, field.name), data[field.name]);
    data.steps.forEach((values, step) => {
      for (const field of STEP_FIELDS) this.own.set(cellKey(pattern, step, field.name), values[field.name]);
    });
  }

  sendPattern(pattern, data) {
    this.awaiting[pattern] += 1;
    this.expect(pattern, data);
    this.bridge.send(SEND.setPattern, { pattern, data });
    this.changed(pattern);
  }

  // Copy, paste, clear and duplicate: the controller does them; the page
  // keeps the target's pattern from before, and from after once it is
  // echoed, for undo and redo.
  copy(pattern) {
    this.bridge.send(SEND.copyPattern, { pattern });
    this.copied = this.view(pattern);
    this.changed(null);
  }

  paste(pattern) {
    if (this.copied) this.operate("Paste", pattern, SEND.pastePattern, { pattern }, this.copied);
  }

  clear(pattern) {
    this.operate("Clear", pattern, SEND.clearPattern, { pattern }, FACTORY_PATTERN);
  }

  duplicate(pattern, to) {
    if (to !== pattern) this.operate("Duplicate", to, SEND.duplicatePattern, { pattern, to }, this.view(pattern));
  }

  // expected: what the target will hold, shown until the echo is in.
  operate(label, target, type, fields, expected) {
    this.end();
    const entry = { label, changes: new Map(), pattern: target, before: this.view(target), after: null };
    this.pending.push({ target, skip: this.awaiting[target], entry });
    this.awaiting[target] += 1;
    this.expect(target, expected);
    this.bridge.send(type, fields);
    this.entry = entry;
    this.end();
  }

  get canUndo() {
    return this.undoStack.length > 0 && !this.entry;
  }

  get canRedo() {
    return this.redoStack.length > 0 && !this.entry;
  }

  undo() {
    if (!this.canUndo) return;
    const entry = this.undoStack.pop();
    this.apply(entry, "before");
    this.redoStack.push(entry);
    this.changed(null);
  }

  redo() {
    if (!this.canRedo) return;
    const entry = this.redoStack.pop();
    this.apply(entry, "after");
    this.undoStack.push(entry);
    this.changed(null);
  }

  // Sends what brings the plane to one side of an entry.
  apply(entry, side) {
    if (entry.pattern !== undefined) {
      // An operation whose echo never came cannot be redone from it.
      if (entry[side]) this.sendPattern(entry.pattern, copyOf(entry[side]));
      return;
    }
    for (const change of entry.changes.values()) {
      if (change.step === null) this.sendRow(change.pattern, change.field, change[side]);
      else this.sendStep(change.pattern, change.step, change.field, change[side]);
    }
  }

  // Selects a pattern through the Pattern parameter. The controller and
  // the processor keep the pattern left as it played and move the
  // step-velocity parameters and Length to the new one's.
  select(pattern) {
    if (pattern === this.selected || !(pattern >= 0 && pattern < PLANE_PATTERNS)) return;
    this.end();
    this.model.edit(KEY.pattern, pattern);
  }
}
