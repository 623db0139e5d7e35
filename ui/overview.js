// The 32 patterns at a glance: a thumbnail of each (its notes by pitch and
// gate over its length), the selected one, the chain's range and the
// pattern and step being played. Clicking a pattern, or Enter on it,
// selects it; arrow keys move between them. Copy, paste, clear and
// duplicate act on the selected pattern; each is one undo entry.
import { KEY, PLANE_PATTERNS, PLANE_STEPS } from "./facts.js";
import { choice, element, toggle } from "./controls.js";
import { noteName } from "./display.js";

const COLUMNS = 8;

function colours() {
  const style = getComputedStyle(document.documentElement);
  const read = (name) => style.getPropertyValue(name).trim();
  return { note: read("--accent"), off: read("--line"), play: read("--play") };
}

// Draws a pattern over its length: each sounding step a dash at its pitch
// (the pattern's notes spread over the height), each silent one at the foot.
function draw(canvas, steps, length, playing) {
  const width = canvas.clientWidth || 40;
  const height = canvas.clientHeight || 24;
  const ratio = window.devicePixelRatio || 1;
  if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
  }
  const g = canvas.getContext("2d");
  const c = colours();
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, width, height);
  const w = width / PLANE_STEPS;
  const sounding = steps.slice(0, length).filter((s) => s.on && s.velocity > 0).map((s) => s.note);
  // At least an octave high, centred on the pattern's notes.
  const middle = (Math.min(...sounding) + Math.max(...sounding)) / 2;
  const span = Math.max(12, Math.max(...sounding) - Math.min(...sounding));
  steps.forEach((s, step) => {
    if (step >= length) return;
    const sounds = s.on && s.velocity > 0;
    const y = sounds ? height / 2 - ((s.note - middle) / span) * (height - 6) : height - 2;
    g.fillStyle = sounds ? c.note : c.off;
    g.fillRect(step * w, y - 1, Math.max(1, w - 0.3), 2);
  });
  if (playing >= 0) {
    g.fillStyle = c.play;
    g.fillRect(playing * w, 0, Math.max(1.5, w), height);
  }
}

export function patternOverview(model, plane) {
  const buttons = Array.from({ length: PLANE_PATTERNS }, (_, index) => {
    const canvas = element("canvas", { class: "thumb", "aria-hidden": "true" });
    const button = element("button", { type: "button", class: "pattern", role: "radio", "data-pattern": index,
      tabindex: "-1" }, [element("span", { class: "pattern-number", text: String(index + 1) }), canvas]);
    button.addEventListener("click", () => plane.select(index));
    return button;
  });
  const list = element("div", { class: "patterns", role: "radiogroup", "aria-label": "Patterns",
    "data-param": KEY.pattern }, buttons);
  let playing = { pattern: -1, position: -1 };

  const summary = (index) => {
    const view = plane.view(index);
    const notes = view.steps.slice(0, view.length).filter((s) => s.on && s.velocity > 0).map((s) => s.note);
    const range = notes.length ? `${noteName(Math.min(...notes))} to ${noteName(Math.max(...notes))}` : "silent";
    return `Pattern ${index + 1}: ${view.length} steps, ${range}`;
  };
  const drawOne = (index) => {
    const view = plane.view(index);
    draw(buttons[index].lastChild, view.steps, view.length,
      playing.pattern === index ? playing.position : -1);
    buttons[index].setAttribute("aria-label", summary(index));
    buttons[index].title = summary(index);
  };
  const mark = () => {
    const selected = plane.selected;
    const start = model.value(KEY.chainStart);
    const end = model.value(KEY.chainEnd);
    list.dataset.value = String(selected);
    list.classList.toggle("chained", Boolean(model.value(KEY.chainOn)));
    buttons.forEach((button, index) => {
      button.setAttribute("aria-checked", index === selected ? "true" : "false");
      button.classList.toggle("in-chain", index >= start && index <= end);
      button.classList.toggle("chain-start", index === start);
      button.classList.toggle("chain-end", index === end);
      button.classList.toggle("playing", index === playing.pattern);
    });
    if (!list.contains(document.activeElement)) {
      buttons.forEach((button, index) => { button.tabIndex = index === selected ? 0 : -1; });
    }
  };
  plane.watch((pattern) => {
    if (pattern === null) buttons.forEach((_, index) => drawOne(index));
    else drawOne(pattern);
    mark();
  });
  for (const key of [KEY.chainOn, KEY.chainStart, KEY.chainEnd]) model.watch(key, mark);
  new ResizeObserver(() => buttons.forEach((_, index) => drawOne(index))).observe(list);

  list.addEventListener("keydown", (event) => {
    const at = buttons.indexOf(document.activeElement);
    if (at < 0) return;
    const moves = { ArrowLeft: at - 1, ArrowRight: at + 1, ArrowUp: at - COLUMNS, ArrowDown: at + COLUMNS, Home: 0,
      End: PLANE_PATTERNS - 1 };
    if (!(event.key in moves)) return;
    const to = Math.max(0, Math.min(PLANE_PATTERNS - 1, moves[event.key]));
    buttons[at].tabIndex = -1;
    buttons[to].tabIndex = 0;
    buttons[to].focus();
    event.preventDefault();
  });
  list.addEventListener("focusout", (event) => { if (!list.contains(event.relatedTarget)) mark(); });

  const action = (text, title, run) => {
    const button = element("button", { type: "button", class: "button small", text, title });
    button.addEventListener("click", run);
    return button;
  };
  const paste = action("Paste", "Paste the copied pattern over the selected one", () => plane.paste(plane.selected));
  const duplicate = action("Duplicate", "Copy the selected pattern into the next one and select it", () => {
    const from = plane.selected;
    plane.duplicate(from, from + 1);
    plane.select(from + 1);
  });
  const actions = element("div", { class: "pattern-actions", role: "group", "aria-label": "Pattern" }, [
    action("Copy", "Copy the selected pattern", () => plane.copy(plane.selected)),
    paste,
    action("Clear", "Bring back the factory pattern in the selected one", () => plane.clear(plane.selected)),
    duplicate,
  ]);
  plane.watch(() => {
    paste.disabled = !plane.copied;
    duplicate.disabled = plane.selected >= PLANE_PATTERNS - 1;
  });
  const numbered = Array.from({ length: PLANE_PATTERNS }, (_, i) => String(i + 1));

  return {
    root: element("div", { class: "overview" }, [
      list,
      element("div", { class: "row chain" }, [
        toggle(model, KEY.chainOn, { label: "Chain" }),
        choice(model, KEY.chainStart, numbered, { label: "From pattern" }),
        choice(model, KEY.chainEnd, numbered, { label: "To pattern" }),
      ]),
      actions,
    ]),
    // Marks the pattern being played and its step (pattern -1: none).
    play(pattern, position) {
      if (pattern === playing.pattern && position === playing.position) return;
      const before = playing.pattern;
      playing = { pattern, position };
      if (before >= 0) drawOne(before);
      if (pattern >= 0) drawOne(pattern);
      mark();
    },
  };
}
