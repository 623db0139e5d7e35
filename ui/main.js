// The editor page: builds the panels, connects them to the controller and
// says it is ready, which brings the hello that fills every control.
import { FEEDS, KEY, PARAMS, RECEIVE, SEND } from "./facts.js";
import { Bridge } from "./bridge.js";
import { ParamModel } from "./model.js";
import { DIRECTION_NAMES, RESOLUTION_NAMES } from "./display.js";
import { choice, element, slider, toggle } from "./controls.js";
import { stepBars } from "./steps.js";
import { scalePanel } from "./scale.js";
import { ccMapPanel } from "./ccmap.js";
import { banksPanel } from "./banks.js";
import { diagnosticsPanel } from "./diagnostics.js";
import { StepClock } from "./walk.js";

const FEED_RATE_HZ = 30;
const numbered = (count) => Array.from({ length: count }, (_, i) => String(i + 1));
const countOf = (key) => PARAMS.find((row) => row.key === key).max + 1;

const bridge = new Bridge();
const model = new ParamModel(bridge);

function panel(title, children, options = {}) {
  return element("section", { class: `panel ${options.class || ""}`, "aria-label": title },
    [element("h2", { text: title }), ...children]);
}

// Snapshots: the whole state as the controller writes it, and back.
function snapshots() {
  let stored = null;
  let waiting = false;
  const take = element("button", { type: "button", class: "button", text: "Store",
    title: "Store a snapshot of every setting, the CC map and the pad overrides" });
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

function build() {
  const steps = stepBars(model);
  const clock = new StepClock();
  const status = element("span", { class: "connection", role: "status" });
  status.textContent = bridge.connected ? "Waiting for the plug-in…" : "No host: preview only";

  const header = element("header", { class: "top" }, [
    element("div", { class: "brand" }, [element("h1", { text: "Tindrel" }), status]),
    toggle(model, KEY.run, { class: "run", label: "Run" }),
    slider(model, KEY.bpm, { class: "wide" }),
    choice(model, KEY.resolution, RESOLUTION_NAMES),
    slider(model, KEY.shuffle),
    choice(model, KEY.pattern, numbered(countOf(KEY.pattern))),
    snapshots(),
  ]);

  const stepsPanel = panel("Steps", [
    element("div", { class: "row" }, [
      slider(model, KEY.length, { coarse: 1 }),
      choice(model, KEY.direction, DIRECTION_NAMES),
      slider(model, KEY.gateScale),
      slider(model, KEY.velocityScale),
    ]),
    steps.root,
  ], { class: "steps-panel" });

  const pitch = panel("Pitch", [
    element("div", { class: "row" }, [slider(model, KEY.transpose, { bipolar: true }), slider(model, KEY.octave)]),
    scalePanel(model),
  ]);
  const chain = panel("Chain", [
    toggle(model, KEY.chainOn, { label: "Chain patterns" }),
    element("div", { class: "row" }, [
      choice(model, KEY.chainStart, numbered(countOf(KEY.chainStart)), { label: "From pattern" }),
      choice(model, KEY.chainEnd, numbered(countOf(KEY.chainEnd)), { label: "To pattern" }),
    ]),
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
  ]);

  const diagnostics = diagnosticsPanel(bridge, (frame, state) => {
    steps.play(clock.advance(frame.atFrame, state.sampleRate, {
      run: model.value(KEY.run), bpm: model.value(KEY.bpm), resolution: model.value(KEY.resolution),
      length: model.value(KEY.length), direction: model.value(KEY.direction),
    }));
  });
  model.watch(KEY.run, (run) => { if (!run) steps.play(-1); });

  const main = element("main", {}, [
    stepsPanel,
    element("div", { class: "panels" }, [pitch, chain, output]),
    tabs([["CC map", ccMapPanel(bridge)], ["Banks", banksPanel(bridge)], ["Diagnostics", diagnostics]]),
  ]);
  document.body.replaceChildren(header, main);

  bridge.on(RECEIVE.hello, () => {
    status.textContent = "Connected";
    status.classList.add("live");
    bridge.send(SEND.subscribe, { feeds: Object.values(FEEDS), hz: FEED_RATE_HZ });
    bridge.send(SEND.getBankState);
  });
}

build();
bridge.ready();
