// The step bars: the velocities of the current pattern's 32 steps, painted
// by dragging across them (Shift: one bar, finely), steps beyond the
// pattern's length dimmed and the step being played lit. Keyboard: the bars
// are one stop in the tab order; Left/Right pick a bar, Up/Down (Page
// Up/Down, Home/End) set it, double-click or Delete resets it.
import { FIRST_STEP_PARAM, KEY, PARAMS, STEP_COUNT } from "./facts.js";
import { element } from "./controls.js";

const STEP_KEYS = PARAMS.slice(FIRST_STEP_PARAM, FIRST_STEP_PARAM + STEP_COUNT).map((row) => row.key);

export function stepBars(model) {
  const max = model.row(STEP_KEYS[0]).max;
  const bars = STEP_KEYS.map((key, index) => {
    const fill = element("div", { class: "step-fill" });
    const bar = element("div", { class: "step", role: "slider", tabindex: index === 0 ? "0" : "-1",
      "data-param": key, "aria-label": model.row(key).title, "aria-valuemin": 0, "aria-valuemax": max },
    [fill, element("span", { class: "step-number", text: String(index + 1), "aria-hidden": "true" })]);
    model.watch(key, (value) => {
      bar.dataset.value = String(value);
      bar.setAttribute("aria-valuenow", value);
      fill.style.height = `${(value / max) * 100}%`;
      bar.title = `${model.row(key).title}: ${value}`;
    });
    return bar;
  });
  const root = element("div", { class: "steps", role: "group", "aria-label": "Step velocities" }, bars);

  model.watch(KEY.length, (length) => {
    bars.forEach((bar, index) => bar.classList.toggle("beyond", index >= length));
  });

  // Painting: every bar the pointer crosses takes the pointer's height;
  // bars skipped between two pointer events are filled in between.
  let paint = null;
  const at = (event) => {
    const box = root.getBoundingClientRect();
    const index = Math.floor(((event.clientX - box.left) / box.width) * STEP_COUNT);
    const bar = bars[Math.max(0, Math.min(STEP_COUNT - 1, index))].getBoundingClientRect();
    const height = (bar.bottom - event.clientY) / bar.height;
    return { index: Math.max(0, Math.min(STEP_COUNT - 1, index)), value: Math.round(height * max) };
  };
  const setBar = (index, value) => {
    model.begin(STEP_KEYS[index]);
    paint.touched.add(STEP_KEYS[index]);
    model.set(STEP_KEYS[index], value);
  };
  root.addEventListener("pointerdown", (event) => {
    if (event.button !== 0) return;
    const hit = at(event);
    root.setPointerCapture(event.pointerId);
    paint = { touched: new Set(), last: hit, fine: event.shiftKey, y: event.clientY,
      start: model.value(STEP_KEYS[hit.index]) };
    focusBar(hit.index);
    if (!paint.fine) setBar(hit.index, hit.value);
    event.preventDefault();
  });
  root.addEventListener("pointermove", (event) => {
    if (!paint) return;
    if (paint.fine) {
      setBar(paint.last.index, paint.start + Math.round((paint.y - event.clientY) / 4));
      return;
    }
    const hit = at(event);
    const { index: from, value: fromValue } = paint.last;
    const span = Math.abs(hit.index - from);
    for (let i = 1; i <= span; i += 1) {
      const index = from + Math.sign(hit.index - from) * i;
      setBar(index, Math.round(fromValue + ((hit.value - fromValue) * i) / span));
    }
    if (span === 0) setBar(hit.index, hit.value);
    paint.last = hit;
  });
  const release = () => {
    if (!paint) return;
    for (const key of paint.touched) model.end(key);
    paint = null;
  };
  root.addEventListener("pointerup", release);
  root.addEventListener("pointercancel", release);
  root.addEventListener("dblclick", (event) => model.reset(STEP_KEYS[at(event).index]));

  let focused = 0;
  function focusBar(index) {
    bars[focused].tabIndex = -1;
    focused = index;
    bars[index].tabIndex = 0;
    bars[index].focus();
  }
  root.addEventListener("keydown", (event) => {
    const key = STEP_KEYS[focused];
    const value = model.value(key);
    const moves = { ArrowUp: value + 1, ArrowDown: value - 1, PageUp: value + 10, PageDown: value - 10,
      Home: 0, End: max };
    if (event.key === "ArrowLeft" || event.key === "ArrowRight") {
      model.end(key);
      focusBar(Math.max(0, Math.min(STEP_COUNT - 1, focused + (event.key === "ArrowLeft" ? -1 : 1))));
    } else if (event.key in moves) {
      model.begin(key);
      model.set(key, moves[event.key]);
    } else if (event.key === "Delete" || event.key === "Backspace") {
      model.reset(key);
    } else {
      return;
    }
    event.preventDefault();
  });
  root.addEventListener("keyup", () => model.end(STEP_KEYS[focused]));
  root.addEventListener("focusout", () => model.end(STEP_KEYS[focused]));

  return {
    root,
    // Lights the bar at position (-1: none).
    play(position) {
      bars.forEach((bar, index) => bar.classList.toggle("playing", index === position));
    },
  };
}
