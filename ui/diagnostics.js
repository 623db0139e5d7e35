// Diagnostics: who the plug-in is and which page build it shows, the host's
// set-up ("norva.hostChanged" keeps it current), the host's transport, the
// runtime health report and the lifecycle events as they happen.
import { RECEIVE } from "./facts.js";
import { element } from "./controls.js";
import { hertz } from "./display.js";

const LIFECYCLE_SHOWN = 200;

function table(pairs) {
  return element("dl", { class: "facts" }, pairs.filter(([, value]) => value !== undefined && value !== null && value !== "")
    .flatMap(([name, value]) => [element("dt", { text: name }), element("dd", { text: String(value) })]));
}

const onOff = (flag) => (flag ? "yes" : "no");

export function hostFactPairs(host) {
  return [
    ["Host", [host.hostName, host.hostVersion].filter(Boolean).join(" ")],
    ["Validator", host.validatorHost],
    ["Sample rate", host.sampleRate ? hertz(host.sampleRate) : "unknown"],
    ["Block size", host.maxBlockFrames ? `${host.maxBlockFrames} frames` : "unknown"],
    ["Last block", host.lastBlockFrames !== undefined ? `${host.lastBlockFrames} frames` : undefined],
    ["Processing", host.processMode],
    ["Sample size", host.sampleSize ? `${host.sampleSize}-bit` : undefined],
    ["Latency", host.latencySamples !== undefined ? `${host.latencySamples} samples` : undefined],
    ["Tail", typeof host.tailSamples === "number" ? `${host.tailSamples} samples` : host.tailSamples],
    ["Bypassed", host.bypassed === undefined ? undefined : onOff(host.bypassed)],
    ["Buses", host.buses ? String(host.buses.length) : undefined],
  ];
}

// Bar and beat (from 1) of a position in quarter notes.
export function barBeat(ppq, barStartPpq, numerator, denominator) {
  const beatPpq = 4 / (denominator || 4);
  const barPpq = beatPpq * (numerator || 4);
  const bar = Math.floor(barStartPpq / barPpq) + 1;
  const beat = Math.floor((ppq - barStartPpq) / beatPpq) + 1;
  return `${bar}.${beat}`;
}

function detailText(detail) {
  return Object.entries(detail || {}).map(([name, value]) => `${name} ${value}`).join(", ");
}

export function diagnosticsPanel(bridge, onTransport) {
  const identity = element("div");
  const host = element("div");
  const transport = element("div");
  const health = element("div");
  const events = element("ol", { class: "events", "aria-label": "Lifecycle events" });
  let hostFacts = null;

  const showHost = () => host.replaceChildren(hostFacts ? table(hostFactPairs(hostFacts))
    : element("p", { class: "muted", text: "The host has not reported its set-up yet." }));

  const showHealth = (report) => {
    if (!report) {
      health.replaceChildren(element("p", { class: "muted", text: "No health report yet." }));
      return;
    }
    const counters = report.counters || {};
    health.replaceChildren(table([
      ["Status", report.status],
      ["Stage", report.lifecycle],
      ["Reports", counters.diagnostics],
      ["First error", report.firstError ? `${report.firstError.message} (${report.firstError.code})` : "none"],
    ]));
    health.dataset.status = report.status || "";
  };

  bridge.on(RECEIVE.hello, (hello) => {
    const ui = hello.identity?.ui || {};
    identity.replaceChildren(table([
      ["Plug-in", `${hello.plugin?.name} ${hello.plugin?.version} (${hello.identity?.target})`],
      ["Vendor", hello.plugin?.vendor],
      ["Page build", ui.buildTime],
      ["Page revision", ui.sourceRevision],
      ["Page digest", ui.sha256 ? `${ui.sha256.slice(0, 16)}…` : undefined],
    ]));
    hostFacts = hello.host || null;
    showHost();
    showHealth(hello.runtimeHealth);
  });
  bridge.on(RECEIVE.hostChanged, (change) => {
    hostFacts = { ...(hostFacts || {}), ...change.host };
    showHost();
  });
  bridge.on(RECEIVE.runtimeDiagnostics, (message) => showHealth(message.report));
  bridge.on(RECEIVE.transport, (message) => {
    const frame = message.frame || {};
    const state = frame.state || {};
    const signature = state.timeSignature || {};
    transport.replaceChildren(table([
      ["State", state.playing ? (state.recording ? "recording" : "playing") : "stopped"],
      ["Host tempo", `${Number(state.tempo).toFixed(2)} BPM`],
      ["Signature", `${signature.numerator}/${signature.denominator}`],
      ["Position", barBeat(state.ppqPosition, state.barPositionPpq, signature.numerator, signature.denominator)],
      ["Loop", state.looping ? `${state.loopStartPpq} to ${state.loopEndPpq}` : "off"],
      ["Frame", frame.atFrame],
    ]));
    onTransport(frame, state);
  });
  bridge.on(RECEIVE.lifecycle, (message) => {
    for (const event of message.events || []) {
      events.prepend(element("li", {}, [
        element("span", { class: "time", text: `${(event.timeMs / 1000).toFixed(3)} s` }),
        element("span", { class: "kind", text: event.kind }),
        element("span", { class: "detail", text: detailText(event.detail) }),
      ]));
    }
    while (events.children.length > LIFECYCLE_SHOWN) events.lastChild.remove();
  });

  showHost();
  showHealth(null);
  transport.append(element("p", { class: "muted", text: "No transport report yet." }));
  const card = (title, body) => element("section", { class: "card" }, [element("h3", { text: title }), body]);
  return element("div", { class: "diagnostics" }, [
    element("div", { class: "cards" }, [card("Plug-in", identity), card("Host", host), card("Transport", transport),
      card("Health", health)]),
    card("Lifecycle", element("div", { class: "events-scroll", tabindex: "0", "aria-label": "Lifecycle events" }, events)),
  ]);
}
