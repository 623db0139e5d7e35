// The step grid of the selected pattern: one lane per step field (on/off,
// note, velocity, gate, ratchet, tie, curve) over the 32 steps, with the
// pattern's length, resolution and direction above it and undo and redo
// beside its title. Dragging across a lane paints it (a switch lane takes the
// value the first step flipped to; the note lane takes the pitch of the
// drag's height, in steps of the scale) and is one undo entry. The grid is
// one stop in the tab order: arrow keys move between cells, a digit or a
// note name opens an entry (Enter takes it and moves on, Escape leaves it),
// + and - nudge, Page Up/Down nudge by ten (notes by an octave), Space flips
// a switch, Delete brings back the factory value.
import { KEY, PLANE_STEPS } from "./facts.js";
import { element, slider } from "./controls.js";
import { DIRECTION_NAMES, RESOLUTION_NAMES, inScale, noteName, readNote } from "./display.js";
import { FIELD, PATTERN_FIELD, STEP_KEYS, factoryValue } from "./plane.js";

// How each field is shown, in lane order.
const LANES = [
  { field: "on", title: "On", kind: "switch", height: 24 },
  { field: "note", title: "Note", kind: "note", height: 30 },
  { field: "velocity", title: "Velocity", kind: "bar", height: 58 },
  { field: "gate", title: "Gate", kind: "bar", height: 40, unit: " %", mark: 100 },
  { field: "ratchet", title: "Ratchet", kind: "count", height: 26 },
  { field: "tie", title: "Tie", kind: "switch", height: 22 },
  { field: "curve", title: "Curve", kind: "bar", height: 36 },
].map((lane) => ({ ...lane, ...FIELD[lane.field] }));
const NOTE_PIXELS = 7; // drag height per scale step
const FULL_SCALE = 0xfff;
const TYPED = /^[0-9a-g]$/i; // keys that open the entry (letters: on the note lane)

// The note k tones of the scale away from note (semitones when no tone of
// the scale lies that way), within the MIDI range.
export function scaleStep(note, k, root, mask) {
  let at = note;
  for (let moved = 0; moved < Math.abs(k);) {
    const next = at + Math.sign(k);
    if (next < FIELD.note.min || next > FIELD.note.max) break;
    at = next;
    if (inScale(at, root, mask)) moved += 1;
  }
  return at;
}

function shown(lane, value) {
  if (lane.kind === "note") return noteName(value);
  if (lane.kind === "switch") return value ? "on" : "off";
  return `${value}${lane.unit || ""}`;
}

function read(lane, text, current) {
  if (lane.kind === "note") return readNote(text, current);
  if (lane.kind === "switch") return /^(1|on|y|yes)$/i.test(text.trim()) ? 1 : /^(0|off|n|no)$/i.test(text.trim()) ? 0 : NaN;
  return Number.parseFloat(String(text).replace("−", "-").replace("%", ""));
}

// A select of a pattern's own field: "Global (…)" (0) or one of the names.
function rowChoice(plane, model, field, title, names, globalKey) {
  const select = element("select", { id: `pattern-${field}`, "data-field": field });
  const global = element("option", { value: 0 });
  select.append(global, ...names.map((name, index) => element("option", { value: index + 1, text: name })));
  const root = element("div", { class: "ctl choice" }, [element("label", { class: "ctl-name", for: select.id, text: title }),
    select]);
  const show = () => {
    global.textContent = `Global (${names[model.value(globalKey)]})`;
    select.value = String(plane.row(plane.selected, field));
    root.dataset.value = select.value;
  };
  select.addEventListener("change", () => {
    plane.begin(title);
    plane.setRow(plane.selected, field, Number(select.value));
    plane.end();
  });
  model.watch(globalKey, show);
  plane.watch(show);
  return root;
}

export function stepGrid(model, plane) {
  // The Length slider shows and edits the selected pattern's length row
  // (the controller moves the Length parameter with it), one undo entry a
  // gesture.
  const length = PATTERN_FIELD.length.name;
  const lengthModel = {
    row: (key) => model.row(key),
    value: () => plane.row(plane.selected, length),
    watch(key, listener) {
      const show = () => listener(this.value());
      plane.watch(show);
      model.watch(key, show);
    },
    begin: () => plane.begin("Length"),
    set: (key, value) => plane.setRow(plane.selected, length, value),
    end: () => plane.end(),
    edit(key, value) {
      this.begin();
      this.set(key, value);
      this.end();
    },
    reset(key) {
      this.edit(key, model.row(key).default);
    },
  };
  const undo = element("button", { type: "button", class: "button", text: "Undo", disabled: true,
    "aria-keyshortcuts": "Control+Z" });
  const redo = element("button", { type: "button", class: "button", text: "Redo", disabled: true,
    "aria-keyshortcuts": "Control+Shift+Z Control+Y" });
  undo.addEventListener("click", () => plane.undo());
  redo.addEventListener("click", () => plane.redo());

  const title = element("h2", { id: "grid-title" });
  const head = element("div", { class: "row grid-head" }, [
    slider(lengthModel, KEY.length, { coarse: 1 }),
    rowChoice(plane, model, PATTERN_FIELD.resolution.name, "Resolution", RESOLUTION_NAMES, KEY.resolution),
    rowChoice(plane, model, PATTERN_FIELD.direction.name, "Direction", DIRECTION_NAMES, KEY.direction),
  ]);

  const numbers = Array.from({ length: PLANE_STEPS }, (_, step) => element("div", { class: "num", role: "columnheader",
    text: String(step + 1) }));
  const rows = [element("div", { class: "grid-row numbers", role: "row" },
    [element("div", { class: "lane-name", role: "columnheader", text: "Step" }), ...numbers])];
  const cells = LANES.map((lane, laneIndex) => {
    const laneCells = Array.from({ length: PLANE_STEPS }, (_, step) => {
      const cell = element("div", { class: "cell", role: "gridcell", tabindex: laneIndex + step === 0 ? "0" : "-1",
        "data-step": step });
      if (lane.kind === "bar" || lane.kind === "count") cell.append(element("div", { class: "fill" }));
      if (lane.kind !== "bar") cell.append(element("span", { class: "cell-text", "aria-hidden": "true" }));
      if (lane.field === "velocity") cell.dataset.param = STEP_KEYS[step];
      return cell;
    });
    rows.push(element("div", { class: `grid-row lane lane-${lane.kind}`, role: "row", "data-field": lane.field,
      style: `--lane-height: ${lane.height}px; ${lane.mark ? `--mark: ${(lane.mark - lane.min) / (lane.max - lane.min)}` : ""}` },
    [element("div", { class: "lane-name", role: "rowheader", text: lane.title }), ...laneCells]));
    return laneCells;
  });
  const grid = element("div", { class: "step-grid", role: "grid", "aria-labelledby": "grid-title",
    "aria-rowcount": LANES.length + 1, "aria-colcount": PLANE_STEPS + 1 }, rows);

  let playing = -1;
  function render() {
    const pattern = plane.selected;
    const length = plane.row(pattern, "length");
    const root = model.value(KEY.keyRoot);
    const mask = model.value(KEY.scaleMask);
    title.textContent = `Pattern ${pattern + 1}`;
    // Every note is a tone of a chromatic scale: nothing to mark.
    grid.classList.toggle("chromatic", (mask & FULL_SCALE) === FULL_SCALE);
    numbers.forEach((number, step) => {
      number.classList.toggle("beyond", step >= length);
      number.classList.toggle("playing", step === playing);
    });
    LANES.forEach((lane, laneIndex) => {
      cells[laneIndex].forEach((cell, step) => {
        const value = plane.step(pattern, step, lane.field);
        const text = shown(lane, value);
        cell.dataset.value = String(value);
        cell.setAttribute("aria-label", `Step ${step + 1} ${lane.title.toLowerCase()}: ${text}`);
        cell.classList.toggle("beyond", step >= length);
        cell.classList.toggle("off", lane.field !== "on" && !plane.step(pattern, step, "on"));
        cell.classList.toggle("playing", step === playing);
        const fill = cell.querySelector(".fill");
        if (fill) fill.style.height = `${((value - lane.min) / (lane.max - lane.min)) * 100}%`;
        const label = cell.querySelector(".cell-text");
        if (lane.kind === "note") {
          const tone = inScale(value, root, mask);
          label.textContent = text;
          cell.classList.toggle("long", text.length > 2);
          cell.classList.toggle("outside", !tone);
          if (!tone) cell.setAttribute("aria-label", `Step ${step + 1} note: ${text}, outside the scale`);
        } else if (lane.kind === "count") {
          label.textContent = String(value);
        }
        cell.title = cell.getAttribute("aria-label");
      });
    });
    undo.disabled = !plane.canUndo;
    redo.disabled = !plane.canRedo;
    const last = plane.undoStack[plane.undoStack.length - 1];
    const next = plane.redoStack[plane.redoStack.length - 1];
    undo.title = last ? `Undo ${last.label.toLowerCase()} (Ctrl+Z)` : "Nothing to undo";
    redo.title = next ? `Redo ${next.label.toLowerCase()} (Ctrl+Shift+Z)` : "Nothing to redo";
  }
  plane.watch(render);
  model.watch(KEY.keyRoot, render);
  model.watch(KEY.scaleMask, render);

  // Focus: one cell of the grid is in the tab order.
  let focused = { lane: 0, step: 0 };
  function focusCell(lane, step) {
    cells[focused.lane][focused.step].tabIndex = -1;
    focused = { lane: Math.max(0, Math.min(LANES.length - 1, lane)), step: Math.max(0, Math.min(PLANE_STEPS - 1, step)) };
    const cell = cells[focused.lane][focused.step];
    cell.tabIndex = 0;
    cell.focus();
  }

  // A cell focused by Tab or a click is where the keys act.
  grid.addEventListener("focusin", (event) => {
    const cell = event.target.closest(".cell");
    const lane = cells.findIndex((laneCells) => laneCells.includes(cell));
    if (lane < 0 || cells[lane][focused.step] === cell && lane === focused.lane) return;
    cells[focused.lane][focused.step].tabIndex = -1;
    focused = { lane, step: Number(cell.dataset.step) };
    cell.tabIndex = 0;
  });

  // Painting.
  let paint = null;
  const stepAt = (x) => {
    const first = cells[0][0].getBoundingClientRect();
    const last = cells[0][PLANE_STEPS - 1].getBoundingClientRect();
    const step = Math.floor(((x - first.left) / (last.right - first.left)) * PLANE_STEPS);
    return Math.max(0, Math.min(PLANE_STEPS - 1, step));
  };
  const valueAt = (lane, cell, y) => {
    const box = cell.getBoundingClientRect();
    const height = Math.max(0, Math.min(1, (box.bottom - 2 - y) / (box.height - 4)));
    return lane.min + Math.round(height * (lane.max - lane.min));
  };
  const set = (step, value) => plane.setStep(plane.selected, step, paint.lane.field, value);

  grid.addEventListener("pointerdown", (event) => {
    const cell = event.target.closest(".cell");
    if (!cell || event.button !== 0 || paint) return;
    const laneIndex = cells.findIndex((laneCells) => laneCells.includes(cell));
    const lane = LANES[laneIndex];
    const step = Number(cell.dataset.step);
    const current = plane.step(plane.selected, step, lane.field);
    grid.setPointerCapture(event.pointerId);
    focusCell(laneIndex, step);
    plane.begin(`Paint ${lane.title.toLowerCase()}`);
    paint = { lane, laneIndex, last: step, y: event.clientY, start: current, value: current };
    if (lane.kind === "switch") paint.value = current ? 0 : 1;
    else if (lane.kind !== "note") paint.value = valueAt(lane, cell, event.clientY);
    set(step, paint.value);
    event.preventDefault();
  });
  grid.addEventListener("pointermove", (event) => {
    if (!paint) return;
    const { lane } = paint;
    const step = stepAt(event.clientX);
    const from = paint.last;
    const fromValue = paint.value;
    if (lane.kind === "note") {
      const moved = Math.round((paint.y - event.clientY) / NOTE_PIXELS);
      paint.value = scaleStep(paint.start, moved, model.value(KEY.keyRoot), model.value(KEY.scaleMask));
    } else if (lane.kind !== "switch") {
      paint.value = valueAt(lane, cells[paint.laneIndex][step], event.clientY);
    }
    // Steps skipped between two pointer events are filled in between.
    const span = Math.abs(step - from);
    for (let i = 1; i <= span; i += 1) {
      const between = lane.kind === "switch" || lane.kind === "note" ? paint.value
        : fromValue + ((paint.value - fromValue) * i) / span;
      set(from + Math.sign(step - from) * i, between);
    }
    if (span === 0) set(step, paint.value);
    paint.last = step;
  });
  const release = () => {
    if (!paint) return;
    paint = null;
    plane.end();
  };
  grid.addEventListener("pointerup", release);
  grid.addEventListener("pointercancel", release);

  // The keyboard.
  const edit = (label, value) => {
    plane.begin(label);
    plane.setStep(plane.selected, focused.step, LANES[focused.lane].field, value);
    plane.end();
  };
  grid.addEventListener("keydown", (event) => {
    if (event.target.tagName === "INPUT" || event.ctrlKey || event.metaKey || event.altKey) return;
    const lane = LANES[focused.lane];
    const value = plane.step(plane.selected, focused.step, lane.field);
    const root = model.value(KEY.keyRoot);
    const mask = model.value(KEY.scaleMask);
    const by = (k) => (lane.kind === "note" ? scaleStep(value, k, root, mask) : value + k);
    const moves = { ArrowLeft: [0, -1], ArrowRight: [0, 1], ArrowUp: [-1, 0], ArrowDown: [1, 0],
      Home: [0, -PLANE_STEPS], End: [0, PLANE_STEPS] };
    const nudges = { "+": 1, "=": 1, "-": -1, PageUp: 10, PageDown: -10 };
    if (event.key in moves) {
      focusCell(focused.lane + moves[event.key][0], focused.step + moves[event.key][1]);
    } else if (event.key in nudges) {
      const k = nudges[event.key];
      edit(lane.title, lane.kind === "note" && Math.abs(k) === 10 ? value + Math.sign(k) * 12 : by(k));
    } else if (event.key === " " && lane.kind === "switch") {
      edit(lane.title, value ? 0 : 1);
    } else if (event.key === "Delete" || event.key === "Backspace") {
      edit(lane.title, factoryValue(lane.field, focused.step));
    } else if (event.key === "Enter" || event.key === "F2") {
      typeValue("");
    } else if (TYPED.test(event.key) && (lane.kind === "note" || /[0-9]/.test(event.key))) {
      typeValue(event.key);
    } else {
      return;
    }
    event.preventDefault();
  });

  // An entry field over the focused cell.
  function typeValue(first) {
    const lane = LANES[focused.lane];
    const cell = cells[focused.lane][focused.step];
    const current = plane.step(plane.selected, focused.step, lane.field);
    const entry = element("input", { class: "cell-entry", type: "text", spellcheck: "false",
      "aria-label": `Step ${focused.step + 1} ${lane.title.toLowerCase()}`, value: first || shown(lane, current) });
    let done = false;
    const finish = (take, next) => {
      if (done) return;
      done = true;
      const typed = read(lane, entry.value, current);
      entry.remove();
      if (take && Number.isFinite(typed)) edit(lane.title, typed);
      focusCell(focused.lane, focused.step + (next ? 1 : 0));
    };
    entry.addEventListener("keydown", (event) => {
      if (event.key === "Enter") finish(true, true);
      else if (event.key === "Escape") finish(false, false);
      else return;
      event.preventDefault();
      event.stopPropagation();
    });
    entry.addEventListener("blur", () => finish(true, false));
    cell.append(entry);
    entry.focus();
    if (first) entry.setSelectionRange(first.length, first.length);
    else entry.select();
  }

  render();
  return {
    root: element("section", { class: "panel grid-panel", "aria-labelledby": "grid-title" }, [
      element("div", { class: "grid-title" }, [title,
        element("div", { class: "history", role: "group", "aria-label": "Edit history" }, [undo, redo])]),
      head, element("div", { class: "grid-scroll" }, grid)]),
    // Lights the step at position of the selected pattern (-1: none).
    play(position) {
      if (position === playing) return;
      playing = position;
      numbers.forEach((number, step) => number.classList.toggle("playing", step === playing));
      for (const laneCells of cells) laneCells.forEach((cell, step) => cell.classList.toggle("playing", step === playing));
    },
  };
}
