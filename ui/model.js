// The parameter model: every parameter's plain value by key, filled from the
// hello and kept by "norva.paramChanged", and the page's edits, which go to
// the controller as gestures (begin, values, end). Rows come from the
// plug-in's catalogue (facts.js).
import { PARAMS, RECEIVE, SEND } from "./facts.js";

// The catalogue's snapping: a multiple of the step, counted from zero,
// within the row's range.
export function snap(row, plain) {
  let value = Number.isFinite(plain) ? plain : row.default;
  if (row.step !== 0) value = row.step * Math.floor(value / row.step + 0.5);
  return Math.min(row.max, Math.max(row.min, value));
}

export class ParamModel {
  constructor(bridge) {
    this.bridge = bridge;
    this.rows = new Map(PARAMS.map((row) => [row.key, row]));
    this.values = new Map(PARAMS.map((row) => [row.key, row.default]));
    this.listeners = new Map();
    this.gestures = new Set();
    bridge.on(RECEIVE.hello, (hello) => {
      for (const param of hello.params || []) this.adopt(param.path, param.value);
    });
    bridge.on(RECEIVE.paramChanged, (change) => {
      // A value the page itself is setting wins until its gesture ends.
      if (!this.gestures.has(change.path)) this.adopt(change.path, change.value);
    });
  }

  row(key) {
    return this.rows.get(key);
  }

  value(key) {
    return this.values.get(key);
  }

  // Calls listener(value) now and after every change of the parameter.
  watch(key, listener) {
    if (!this.listeners.has(key)) this.listeners.set(key, []);
    this.listeners.get(key).push(listener);
    listener(this.values.get(key));
  }

  adopt(key, plain) {
    const row = this.rows.get(key);
    if (!row || typeof plain !== "number") return;
    this.store(key, snap(row, plain));
  }

  store(key, value) {
    this.values.set(key, value);
    for (const listener of this.listeners.get(key) || []) listener(value);
  }

  begin(key) {
    if (this.gestures.has(key)) return;
    this.gestures.add(key);
    this.bridge.send(SEND.beginEdit, { path: key });
  }

  // One value of a gesture; a value that snaps to the current one sends
  // nothing.
  set(key, plain) {
    const row = this.rows.get(key);
    const value = snap(row, plain);
    if (value === this.values.get(key)) return;
    this.store(key, value);
    this.bridge.send(SEND.setParam, { path: key, value });
  }

  end(key) {
    if (!this.gestures.delete(key)) return;
    this.bridge.send(SEND.endEdit, { path: key });
  }

  // A whole gesture of one value.
  edit(key, plain) {
    this.begin(key);
    this.set(key, plain);
    this.end(key);
  }

  reset(key) {
    this.edit(key, this.rows.get(key).default);
  }
}
