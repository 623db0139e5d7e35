// The CC map editor: the bindings of MIDI controllers to parameters, one row
// each (on/off, controller, channel, parameter, curve, value mode, takeover,
// range). Every edit sends the whole map with "norva.setCcMap"; the rows are
// drawn again from what the controller answers ("norva.ccMapChanged", and
// the hello's map). Learn takes the next controller the activity feed sees.
import { CC_CURVES, CC_MAP_CAPACITY, CC_TAKEOVERS, CC_VALUE_MODES, KEY, MIDI_CC_COUNT, PARAMS, RECEIVE, SEND }
  from "./facts.js";
import { element } from "./controls.js";

const CURVE_NAMES = ["Linear", "Exponential", "Logarithmic", "S-curve"];
const MODE_NAMES = ["Absolute", "Relative (signed bit)", "Relative (binary offset)", "Relative (two's complement)",
  "Toggle"];
const TAKEOVER_NAMES = ["Jump", "Pick up", "Scale"];
const CHANNELS = 16;

// A binding as the page edits it, from its wire form (members left out hold
// their defaults).
export function bindingFromWire(wire) {
  return {
    cc: wire.cc, path: wire.path, channel: wire.channel ?? 0,
    min: wire.min ?? null, max: wire.max ?? null,
    curve: Math.max(0, CC_CURVES.indexOf(wire.curve ?? "")),
    valueMode: Math.max(0, CC_VALUE_MODES.indexOf(wire.valueMode ?? "")),
    takeover: Math.max(0, CC_TAKEOVERS.indexOf(wire.takeover ?? "")),
    enabled: wire.enabled !== false,
  };
}

export function bindingToWire(binding) {
  const wire = { cc: binding.cc, path: binding.path };
  if (binding.channel) wire.channel = binding.channel;
  if (binding.min !== null) wire.min = binding.min;
  if (binding.max !== null) wire.max = binding.max;
  if (binding.curve) wire.curve = CC_CURVES[binding.curve];
  if (binding.valueMode) wire.valueMode = CC_VALUE_MODES[binding.valueMode];
  if (binding.takeover) wire.takeover = CC_TAKEOVERS[binding.takeover];
  if (!binding.enabled) wire.enabled = false;
  return wire;
}

function options(select, names, offset = 0) {
  names.forEach((name, index) => select.append(element("option", { value: index + offset, text: name })));
  return select;
}

export function ccMapPanel(bridge) {
  let bindings = [];
  let learning = -1; // the row waiting for a controller
  const body = element("tbody");
  const add = element("button", { type: "button", class: "button", text: "Add binding" });
  const seen = element("span", { class: "muted", "aria-live": "polite", text: "No controller seen yet" });
  const empty = element("p", { class: "muted empty", text: "No bindings. Add one, then move a controller with Learn on." });

  const send = () => bridge.send(SEND.setCcMap, { map: { version: 1, bindings: bindings.map(bindingToWire) } });

  function field(index, name, control, read) {
    control.dataset.field = name;
    control.addEventListener("change", () => {
      bindings[index][name] = read(control);
      send();
    });
    return element("td", {}, [control]);
  }
  const numberOrNull = (input) => (input.value.trim() === "" ? null : Number(input.value));

  function rowOf(binding, index) {
    const param = PARAMS.find((row) => row.key === binding.path) || PARAMS[0];
    const label = (what) => `${what} of binding ${index + 1}`;
    const enabled = element("input", { type: "checkbox", "aria-label": label("On") });
    enabled.checked = binding.enabled;
    const cc = element("input", { type: "number", min: 0, max: MIDI_CC_COUNT - 1, step: 1, value: binding.cc,
      "aria-label": label("Controller"), class: "narrow" });
    const channel = options(element("select", { "aria-label": label("Channel") }),
      ["Any", ...Array.from({ length: CHANNELS }, (_, i) => String(i + 1))]);
    channel.value = String(binding.channel);
    const target = element("select", { "aria-label": label("Parameter") });
    for (const group of [...new Set(PARAMS.map((row) => row.group))]) {
      const optgroup = element("optgroup", { label: group });
      for (const row of PARAMS.filter((r) => r.group === group)) optgroup.append(element("option", { value: row.key,
        text: row.title }));
      target.append(optgroup);
    }
    target.value = binding.path;
    const curve = options(element("select", { "aria-label": label("Curve") }), CURVE_NAMES);
    curve.value = String(binding.curve);
    const mode = options(element("select", { "aria-label": label("Value mode") }), MODE_NAMES);
    mode.value = String(binding.valueMode);
    const takeover = options(element("select", { "aria-label": label("Takeover") }), TAKEOVER_NAMES);
    takeover.value = String(binding.takeover);
    const min = element("input", { type: "number", step: "any", placeholder: String(param.min), class: "narrow",
      value: binding.min ?? "", "aria-label": label("Lowest value") });
    const max = element("input", { type: "number", step: "any", placeholder: String(param.max), class: "narrow",
      value: binding.max ?? "", "aria-label": label("Highest value") });
    const learn = element("button", { type: "button", class: "button small", text: "Learn",
      "aria-pressed": learning === index ? "true" : "false", "aria-label": label("Learn the controller"),
      "data-field": "learn" });
    learn.addEventListener("click", () => {
      learning = learning === index ? -1 : index;
      draw();
    });
    const remove = element("button", { type: "button", class: "button small danger", text: "Remove",
      "aria-label": label("Remove"), "data-field": "remove" });
    remove.addEventListener("click", () => {
      bindings.splice(index, 1);
      learning = -1;
      send();
    });
    return element("tr", { "data-binding": index }, [
      field(index, "enabled", enabled, (c) => c.checked),
      field(index, "cc", cc, (c) => Math.max(0, Math.min(MIDI_CC_COUNT - 1, Math.round(Number(c.value) || 0)))),
      field(index, "channel", channel, (c) => Number(c.value)),
      field(index, "path", target, (c) => c.value),
      field(index, "curve", curve, (c) => Number(c.value)),
      field(index, "valueMode", mode, (c) => Number(c.value)),
      field(index, "takeover", takeover, (c) => Number(c.value)),
      field(index, "min", min, numberOrNull),
      field(index, "max", max, numberOrNull),
      element("td", { class: "actions" }, [learn, remove]),
    ]);
  }

  function draw() {
    // Drawing again keeps the keyboard where it was.
    const active = document.activeElement;
    const row = active?.closest?.("tr[data-binding]")?.dataset.binding;
    const name = active?.dataset?.field;
    body.replaceChildren(...bindings.map(rowOf));
    empty.hidden = bindings.length > 0;
    add.disabled = bindings.length >= CC_MAP_CAPACITY;
    if (row !== undefined && name) {
      body.querySelector(`tr[data-binding="${row}"] [data-field="${name}"]`)?.focus();
    }
  }

  function adopt(map) {
    bindings = (map?.bindings || []).map(bindingFromWire);
    if (learning >= bindings.length) learning = -1;
    draw();
  }

  add.addEventListener("click", () => {
    // A new binding: the first controller no binding uses, on the tempo.
    const used = new Set(bindings.map((b) => b.cc));
    let cc = 1;
    while (used.has(cc) && cc < MIDI_CC_COUNT - 1) cc += 1;
    bindings.push(bindingFromWire({ cc, path: KEY.bpm }));
    send();
  });

  bridge.on(RECEIVE.hello, (hello) => adopt(hello.ccMap));
  bridge.on(RECEIVE.ccMapChanged, (message) => adopt(message.map));
  // The activity feed counts channels from 0, as MIDI does; a binding's
  // channel counts from 1 (0 is any channel).
  bridge.on(RECEIVE.midiCc, (message) => {
    seen.textContent = `Last controller: CC ${message.cc} on channel ${message.channel + 1}, value ${message.value}`;
    if (learning < 0 || learning >= bindings.length) return;
    bindings[learning].cc = message.cc;
    bindings[learning].channel = message.channel + 1;
    learning = -1;
    send();
  });

  const head = element("thead", {}, element("tr", {}, ["On", "CC", "Channel", "Parameter", "Curve", "Value mode",
    "Takeover", "Lowest", "Highest", ""].map((text) => element("th", { scope: "col", text }))));
  draw();
  return element("div", { class: "ccmap" }, [
    element("div", { class: "toolbar" }, [add, seen]),
    element("div", { class: "table-scroll" }, element("table", { class: "grid" }, [head, body])),
    empty,
  ]);
}
