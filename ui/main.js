// The editor page: builds the panels, connects them to the controller and
// says it is ready, which brings the hello that fills every control.
import { FEEDS, KEY, PARAMS, RECEIVE, SEND, STEPS_PER_BEAT } from "./facts.js";
import { Bridge } from "./bridge.js";
import { ParamModel } from "./model.js";
import { DIRECTION_NAMES, RESOLUTION_NAMES } from "./display.js";
import { choice, element, slider, toggle } from "./controls.js";
import { PlaneModel } from "./plane.js";
import { stepGrid } from "./grid.js";
import { patternOverview } from "./overview.js";
import { scalePanel } from "./scale.js";
import { ccMapPanel } from "./ccmap.js";
import { banksPanel } from "./banks.js";
import { diagnosticsPanel } from "./diagnostics.js";
import { StepClock, stepFrames } from "./walk.js";

const FEED_RATE_HZ = 30;
const OWN_JUMP_SECONDS = 10; // a longer leap between two transport frames is a new start
const HOST_JUMP_QUARTERS = 2; // so is a leap of the host's position (a locate, a loop)
const numbered = (count) => Array.from({ length: count }, (_, i) => String(i + 1));
const countOf = (key) => PARAMS.find((row) => row.key === key).max + 1;

const bridge = new Bridge();
const model = new ParamModel(bridge);
const plane = new PlaneModel(bridge, model);

function panel(title, children, options = {}) {
  return element("section", { class: `panel ${options.class || ""}`, "aria-label": title },
    [element("h2", { text: title }), ...children]);
}

// Snapshots: the whole state as the controller writes it, and back.
function snapshots() {
  let stored = null;
  let waiting = false;
  const take = element("button", { type: "button", class: "button", text: "Store",
    title: "Store a snapshot of every setting, the patterns, the CC map and the pad overrides" });
  const recall = element("button", { type: "button", class: "button", text: "Recall", disabled: true,
    title: "Go back to the stored snapshot" });
  const when = element("span", { class: "muted small", text: "No snapshot" });
  take.addEventListener("click", () => {
    waiting = true;
    bridge.send(SEND.getState);
  });
  recall.addEventListener("click", () => stored && bridge.send(SEND.setState, { state: stored }));
  bridge.on(RECEIVE.state, (message) => {
    if (!waiting) return;
    waiting = false;
    stored = message.state;
    recall.disabled = false;
    when.textContent = `Stored ${new Date().toLocaleTimeString()}`;
  });
  return element("div", { class: "snapshot", role: "group", "aria-label": "Snapshot" },
    [element("span", { class: "ctl-name", text: "Snapshot" }), take, recall, when]);
}

function tabs(entries) {
  const list = element("div", { class: "tablist", role: "tablist", "aria-label": "More" });
  const views = [];
  const buttons = entries.map(([title, view], index) => {
    const id = `tab-${index}`;
    const button = element("button", { class: "tab", role: "tab", id, type: "button", "aria-controls": `${id}-view`,
      text: title });
    views.push(element("div", { class: "tabview", role: "tabpanel", id: `${id}-view`, "aria-labelledby": id }, view));
    return button;
  });
  const select = (index, focus = false) => {
    buttons.forEach((button, i) => {
      button.setAttribute("aria-selected", i === index ? "true" : "false");
      button.tabIndex = i === index ? 0 : -1;
      views[i].hidden = i !== index;
    });
    if (focus) buttons[index].focus();
  };
  buttons.forEach((button, index) => {
    button.addEventListener("click", () => select(index));
    button.addEventListener("keydown", (event) => {
      const moves = { ArrowRight: index + 1, ArrowLeft: index - 1, Home: 0, End: buttons.length - 1 };
      if (!(event.key in moves)) return;
      select((moves[event.key] + buttons.length) % buttons.length, true);
      event.preventDefault();
    });
  });
  list.append(...buttons);
  select(0);
  return element("section", { class: "panel more" }, [list, ...views]);
}

// Undo and redo from anywhere but a text field (which has its own).
function historyKeys(event) {
  if (!(event.ctrlKey || event.metaKey) || event.altKey || /^(INPUT|SELECT|TEXTAREA)$/.test(event.target.tagName)) return;
  const key = event.key.toLowerCase();
  if (key === "z" && !event.shiftKey) plane.undo();
  else if ((key === "z" && event.shiftKey) || key === "y") plane.redo();
  else return;
  event.preventDefault();
}

// The sequencer's walk as the page estimates it, from each transport frame:
// on its own clock (frames) or on the host's (quarter notes).
function walker(grid, overview) {
  const clock = new StepClock();
  // A pattern's own resolution and direction, else the global ones.
  const own = (pattern, field, key) => {
    const value = plane.row(pattern, field);
    return value > 0 ? value - 1 : model.value(key);
  };
  const show = (at) => {
    overview.play(at.pattern, at.position);
    grid.play(at.pattern === plane.selected ? at.position : -1);
  };
  for (const row of PARAMS) model.watch(row.key, () => clock.rejoin(plane.selected));
  model.watch(KEY.run, (run) => { if (!run) show({ pattern: -1, position: -1 }); });
  return (frame, state) => {
    const host = Boolean(model.value(KEY.followHost));
    const running = model.value(KEY.run) && state.sampleRate > 0 && (!host || state.playing);
    const time = host ? state.ppqPosition : frame.atFrame;
    if (!running || !Number.isFinite(time)) {
      clock.halt(time);
      show({ pattern: -1, position: -1 });
      return;
    }
    show(clock.advance(time, {
      selected: plane.selected,
      chain: { on: model.value(KEY.chainOn), start: model.value(KEY.chainStart), end: model.value(KEY.chainEnd) },
      plan: (pattern) => {
        const resolution = own(pattern, "resolution", KEY.resolution);
        return {
          length: plane.row(pattern, "length"),
          direction: own(pattern, "direction", KEY.direction),
          step: host ? 1 / STEPS_PER_BEAT[resolution] : stepFrames(state.sampleRate, model.value(KEY.bpm), resolution),
        };
      },
      origin: host ? state.barPositionPpq : 0,
      startsNow: !host,
      jump: host ? HOST_JUMP_QUARTERS : state.sampleRate * OWN_JUMP_SECONDS,
    }));
  };
}

function build() {
  const grid = stepGrid(model, plane);
  const overview = patternOverview(model, plane);
  const status = element("span", { class: "connection", role: "status" });
  status.textContent = bridge.connected ? "Waiting for the plug-in…" : "No host: preview only";

  const header = element("header", { class: "top" }, [
    element("div", { class: "brand" }, [element("h1", { text: "Tindrel" }), status]),
    toggle(model, KEY.run, { class: "run", label: "Run" }),
    slider(model, KEY.bpm, { class: "wide" }),
    choice(model, KEY.resolution, RESOLUTION_NAMES),
    choice(model, KEY.direction, DIRECTION_NAMES),
    slider(model, KEY.shuffle),
    snapshots(),
  ]);

  const patterns = panel("Patterns", [overview.root], { class: "patterns-panel" });
  const pitch = panel("Pitch", [
    element("div", { class: "row" }, [slider(model, KEY.transpose, { bipolar: true }), slider(model, KEY.octave)]),
    scalePanel(model),
  ]);
  const output = panel("Output", [
    element("div", { class: "row" }, [
      choice(model, KEY.channel, numbered(countOf(KEY.channel)), { label: "MIDI channel" }),
      slider(model, KEY.seed, { label: "Random seed", coarse: 1 }),
    ]),
    element("div", { class: "row" }, [
      slider(model, KEY.curveCc, { label: "Curve to" }),
      toggle(model, KEY.curveBipolar, { label: "Bipolar curve" }),
    ]),
    element("div", { class: "row" }, [slider(model, KEY.gateScale), slider(model, KEY.velocityScale)]),
    element("div", { class: "row" }, [
      toggle(model, KEY.followHost, { label: "Follow host" }),
      toggle(model, KEY.bypass, { label: "Bypass" }),
    ]),
  ]);

  const diagnostics = diagnosticsPanel(bridge, walker(grid, overview));

  const main = element("main", {}, [
    grid.root,
    element("div", { class: "panels" }, [patterns, pitch, output]),
    tabs([["CC map", ccMapPanel(bridge)], ["Banks", banksPanel(bridge)], ["Diagnostics", diagnostics]]),
  ]);
  document.body.replaceChildren(header, main);
  document.addEventListener("keydown", historyKeys);

  bridge.on(RECEIVE.hello, () => {
    status.textContent = "Connected";
    status.classList.add("live");
    bridge.send(SEND.subscribe, { feeds: Object.values(FEEDS), hz: FEED_RATE_HZ });
    bridge.send(SEND.getBankState);
  });
}

build();
bridge.ready();
