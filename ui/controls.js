// The controls: a slider for numbers, a list for named values, a switch for
// on/off. Each one follows its parameter in the model (so the host's
// automation moves it), sends its edits as gestures, resets to the default
// on a double-click and moves finely with Shift held.
import { formatOf } from "./display.js";

let nextId = 0;
const uid = (stem) => `${stem}-${++nextId}`;

export function element(tag, attributes = {}, children = []) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === "text") node.textContent = value;
    else if (name === "class") node.className = value;
    else node.setAttribute(name, value === true ? "" : value);
  }
  for (const child of [].concat(children)) if (child) node.append(child);
  return node;
}

function label(model, key, text, target) {
  const name = element("label", { class: "ctl-name", id: uid("name"), for: target.id, text: text ?? model.row(key).title,
    title: "Double-click to reset" });
  name.addEventListener("dblclick", () => model.reset(key));
  return name;
}

// A horizontal slider with the value written on it. Drag (Shift: finely),
// arrow keys (Shift: finely), Page Up/Down, Home/End, Enter or a typed digit
// to type a value, double-click to reset.
export function slider(model, key, options = {}) {
  const row = model.row(key);
  const format = options.format || formatOf(key);
  const range = row.max - row.min;
  const stepped = row.step !== 0;
  const track = element("div", { class: "slider-track", role: "slider", tabindex: "0", id: uid("slider"),
    "aria-valuemin": row.min, "aria-valuemax": row.max });
  const fill = element("div", { class: "slider-fill" });
  const text = element("span", { class: "slider-text" });
  track.append(fill, text);
  const root = element("div", { class: `ctl slider ${options.class || ""}`, "data-param": key },
    [label(model, key, options.label, track), track]);
  track.setAttribute("aria-labelledby", root.firstChild.id);

  model.watch(key, (value) => {
    const shown = format.show(value);
    root.dataset.value = String(value);
    track.setAttribute("aria-valuenow", value);
    track.setAttribute("aria-valuetext", shown);
    text.textContent = shown;
    const from = options.bipolar ? 0.5 : 0;
    const at = range > 0 ? (value - row.min) / range : 0;
    fill.style.left = `${Math.min(from, at) * 100}%`;
    fill.style.width = `${Math.abs(at - from) * 100}%`;
  });

  const nudge = (fine, times = 1) => (stepped ? row.step * (fine ? 1 : options.coarse || 1)
    : range / (fine ? 1000 : 100)) * times;

  let drag = null;
  // Keys and presses in the entry field are the field's own.
  track.addEventListener("pointerdown", (event) => {
    if (event.button !== 0 || event.target !== track) return;
    track.focus();
    track.setPointerCapture(event.pointerId);
    drag = { x: event.clientX, y: event.clientY, start: model.value(key) };
    model.begin(key);
    event.preventDefault();
  });
  track.addEventListener("pointermove", (event) => {
    if (!drag) return;
    // A full-width drag covers the range; Shift a tenth of it.
    const width = track.clientWidth || 100;
    const moved = (event.clientX - drag.x - (event.clientY - drag.y)) / width;
    model.set(key, drag.start + moved * range * (event.shiftKey ? 0.1 : 1));
  });
  const release = () => {
    if (!drag) return;
    drag = null;
    model.end(key);
  };
  track.addEventListener("pointerup", release);
  track.addEventListener("pointercancel", release);
  track.addEventListener("dblclick", (event) => { if (event.target === track) model.reset(key); });

  track.addEventListener("keydown", (event) => {
    if (event.target !== track) return;
    const value = model.value(key);
    const moves = {
      ArrowRight: value + nudge(event.shiftKey), ArrowUp: value + nudge(event.shiftKey),
      ArrowLeft: value - nudge(event.shiftKey), ArrowDown: value - nudge(event.shiftKey),
      PageUp: value + nudge(false, 10), PageDown: value - nudge(false, 10),
      Home: row.min, End: row.max,
    };
    if (event.key in moves) {
      model.begin(key);
      model.set(key, moves[event.key]);
      event.preventDefault();
    } else if (event.key === "Enter" || /^[0-9.\-+]$/.test(event.key)) {
      typeValue(event.key === "Enter" ? "" : event.key);
      event.preventDefault();
    } else if (event.key === "Delete" || event.key === "Backspace") {
      model.reset(key);
      event.preventDefault();
    }
  });
  track.addEventListener("keyup", (event) => { if (event.target === track) model.end(key); });
  track.addEventListener("blur", () => { if (!drag) model.end(key); });

  // An entry field over the slider: Enter takes the value, Escape leaves it.
  function typeValue(first) {
    const entry = element("input", { class: "slider-entry", type: "text", "aria-label": `${row.title} value`,
      value: first || format.show(model.value(key)) });
    let done = false;
    const finish = (take) => {
      if (done) return;
      done = true;
      if (take) {
        const typed = format.read(entry.value);
        if (Number.isFinite(typed)) model.edit(key, typed);
      }
      entry.remove();
      track.focus();
    };
    entry.addEventListener("keydown", (event) => {
      if (event.key === "Enter") finish(true);
      else if (event.key === "Escape") finish(false);
      else return;
      event.preventDefault();
      event.stopPropagation();
    });
    entry.addEventListener("blur", () => finish(true));
    track.append(entry);
    entry.focus();
    if (!first) entry.select();
  }
  return root;
}

// A list of named values (a native select: the keyboard and screen readers
// know it).
export function choice(model, key, names, options = {}) {
  const select = element("select", { id: uid("choice") });
  names.forEach((name, index) => select.append(element("option", { value: index + model.row(key).min, text: name })));
  const root = element("div", { class: `ctl choice ${options.class || ""}`, "data-param": key },
    [label(model, key, options.label, select), select]);
  model.watch(key, (value) => {
    root.dataset.value = String(value);
    select.value = String(value);
  });
  select.addEventListener("change", () => model.edit(key, Number(select.value)));
  return root;
}

// An on/off switch.
export function toggle(model, key, options = {}) {
  const button = element("button", { class: "switch", type: "button", id: uid("switch"),
    "aria-label": options.label ?? model.row(key).title, title: "Double-click to reset" },
  [element("span", { class: "switch-text", text: options.label ?? model.row(key).title })]);
  const root = element("div", { class: `ctl toggle ${options.class || ""}`, "data-param": key }, [button]);
  model.watch(key, (value) => {
    root.dataset.value = String(value);
    button.setAttribute("aria-pressed", value ? "true" : "false");
  });
  button.addEventListener("click", (event) => {
    // The second click of a double-click is the reset's, not a toggle.
    if (event.detail > 1) return;
    model.edit(key, model.value(key) ? 0 : 1);
  });
  button.addEventListener("dblclick", () => model.reset(key));
  return root;
}
