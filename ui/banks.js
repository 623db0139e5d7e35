// Sound banks: load a bank folder, or a hosted bank by its address, SHA-256
// and instrument; show the bank state the controller reports (the runtime
// bank, its instruments and kits, presets, pad overrides and any error in
// plain words) and the folder picker's answer; edit the pad overrides.
import { BANK_ERRORS, BANK_REASONS, BANK_SOURCES, PAD_SETTINGS, RECEIVE, SEND } from "./facts.js";
import { element } from "./controls.js";

const quote = (text) => `“${text}”`;
const ERROR_WORDS = {
  [BANK_ERRORS.missing]: (id) => `No bank was found for ${quote(id)}. Check the folder or the instrument name.`,
  [BANK_ERRORS.hashMismatch]: () => "The bank's files do not match their SHA-256 digests: it is damaged or was changed.",
  [BANK_ERRORS.malformed]: () => "The bank's description cannot be read: the folder is not a valid bank.",
  [BANK_ERRORS.unsupportedCodec]: () => "The bank holds audio in a format Tindrel cannot play (WAV, 16 or 24-bit, or 32-bit float).",
  [BANK_ERRORS.tooLarge]: () => "The bank is too large for Tindrel's sample memory.",
  [BANK_ERRORS.instrumentUnknown]: (id) => `The bank has no instrument or kit named ${quote(id)}.`,
  [BANK_ERRORS.fetchFailed]: (id) => `The bank could not be downloaded from ${id}.`,
};

export function bankErrorWords(error) {
  const words = ERROR_WORDS[error.code];
  return words ? words(error.requestedId || "") : `The bank could not be loaded (${error.code}).`;
}

const SETTING_NAMES = {
  transpose: "Transpose (st)", fineTune: "Fine tune (cents)", gain: "Gain", pan: "Pan", start: "Start",
  end: "End", attack: "Attack (s)", release: "Release (s)", filterHz: "Filter (Hz)", resonance: "Resonance",
  reverse: "Reverse (0/1)", muted: "Muted (0/1)", chokeGroup: "Choke group", roundRobinGroup: "Round robin group",
  velocitySensitivity: "Velocity sensitivity",
};

export function settingAccepts(setting, value) {
  if (!Number.isFinite(value) || value < setting.min || value > setting.max) return false;
  if (setting.rule === "whole") return Number.isInteger(value);
  if (setting.rule === "zeroOrOne") return value === 0 || value === 1;
  return true;
}

function labelled(text, control) {
  control.id ||= `bank-${text.toLowerCase().replace(/[^a-z0-9]+/g, "-")}`;
  return element("div", { class: "field" }, [element("label", { for: control.id, text }), control]);
}

export function banksPanel(bridge) {
  const source = element("select", { id: "bank-source" }, [
    element("option", { value: BANK_SOURCES.userFolder, text: "Folder on this computer" }),
    element("option", { value: BANK_SOURCES.hosted, text: "Hosted address" }),
  ]);
  const folder = element("input", { type: "text", id: "bank-folder", placeholder: "/path/to/bank", spellcheck: "false" });
  const choose = element("button", { type: "button", class: "button", text: "Choose…" });
  const url = element("input", { type: "url", id: "bank-url", placeholder: "https://…/bank.zip", spellcheck: "false" });
  const sha = element("input", { type: "text", id: "bank-sha", placeholder: "64 hexadecimal digits", spellcheck: "false",
    pattern: "[0-9a-fA-F]{64}" });
  const instrument = element("input", { type: "text", id: "bank-instrument", placeholder: "default", spellcheck: "false" });
  const load = element("button", { type: "button", class: "button primary", text: "Load bank" });
  const status = element("p", { class: "status", role: "status", "aria-live": "polite" });
  const runtime = element("div", { class: "bank-runtime" });
  const presets = element("div", { class: "bank-presets" });

  const folderRow = element("div", { class: "row" }, [labelled("Folder", folder), choose]);
  const hostedRow = element("div", { class: "row" }, [labelled("Address", url), labelled("SHA-256", sha)]);
  const showSource = () => {
    folderRow.hidden = source.value !== BANK_SOURCES.userFolder;
    hostedRow.hidden = !folderRow.hidden;
  };
  source.addEventListener("change", showSource);
  showSource();

  const say = (text, kind = "") => {
    status.textContent = text;
    status.className = `status ${kind}`;
  };
  const request = (instrumentId) => {
    const hosted = source.value === BANK_SOURCES.hosted;
    if (hosted && !/^[0-9a-fA-F]{64}$/.test(sha.value.trim())) {
      say("The SHA-256 must be 64 hexadecimal digits.", "error");
      return;
    }
    const fields = hosted ? { source: BANK_SOURCES.hosted, url: url.value.trim(), sha256: sha.value.trim().toLowerCase() }
      : { source: BANK_SOURCES.userFolder, bankPath: folder.value.trim() };
    bridge.send(SEND.loadBank, { ...fields, instrument: instrumentId });
    say("Loading…");
  };
  load.addEventListener("click", () => request(instrument.value.trim()));
  choose.addEventListener("click", () => bridge.send(SEND.pickFolder));

  bridge.on(RECEIVE.folderPicked, (answer) => {
    if (answer.ok) {
      folder.value = answer.path;
      say("Folder chosen. Load it when ready.");
    } else if (answer.cancelled) {
      say("No folder chosen.");
    } else {
      say(`The folder picker is not available: ${answer.error}. Type the folder's path instead.`, "error");
    }
  });

  const pads = padEditor(bridge, say);
  bridge.on(RECEIVE.bankState, (state) => {
    showRuntime(state.runtime);
    showPresets(state.presets);
    pads.adopt(state.pads || {});
    if (state.error) say(bankErrorWords(state.error), "error");
    else if (state.reason === BANK_REASONS.loadBank) say("Bank loaded.", "ok");
    else if (state.reason === BANK_REASONS.setPadOverrides) say("Pad overrides applied.", "ok");
    else if (state.reason === BANK_REASONS.restore) say("Bank state restored.");
  });

  function showRuntime(bank) {
    if (!bank) {
      runtime.replaceChildren(element("p", { class: "muted", text: "No bank loaded." }));
      return;
    }
    const list = element("ul", { class: "plain" });
    for (const item of bank.positionings || []) {
      const use = element("button", { type: "button", class: "button small", text: "Use",
        "aria-label": `Use ${item.name}` });
      use.addEventListener("click", () => request(item.id));
      list.append(element("li", {}, [element("span", { text: `${item.name} (${item.list})` }), use]));
    }
    runtime.replaceChildren(
      element("p", { text: `${bank.locator} (${bank.source})` }),
      bank.instrument ? element("p", { text: `Playing ${bank.instrument.name} from its ${bank.instrument.list}.` }) : null,
      list,
    );
  }

  function showPresets(block) {
    const items = block?.bankScoped ? block.items : [];
    presets.replaceChildren(...(items.length ? items.map((preset) => {
      const apply = element("button", { type: "button", class: "button small", text: preset.name });
      apply.addEventListener("click", () => bridge.send(SEND.loadBankPreset, { id: preset.id }));
      return apply;
    }) : [element("p", { class: "muted", text: "No bank presets." })]));
  }
  showRuntime(null);
  showPresets(null);

  return element("div", { class: "banks" }, [
    element("div", { class: "row" }, [labelled("Source", source), labelled("Instrument or kit", instrument), load]),
    folderRow, hostedRow, status,
    element("div", { class: "columns" }, [
      element("section", {}, [element("h3", { text: "Bank" }), runtime, element("h3", { text: "Presets" }), presets]),
      element("section", {}, [element("h3", { text: "Pad overrides" }), pads.root]),
    ]),
  ]);
}

// Pad overrides as rows of pad, setting and value; Apply sends them all.
function padEditor(bridge, say) {
  let rows = [];
  let adopted = null;
  const body = element("tbody");
  const add = element("button", { type: "button", class: "button small", text: "Add override" });
  const apply = element("button", { type: "button", class: "button small primary", text: "Apply overrides" });

  function draw() {
    body.replaceChildren(...rows.map((row, index) => {
      const pad = element("input", { type: "text", value: row.pad, class: "narrow", "aria-label": `Pad of override ${index + 1}` });
      const setting = element("select", { "aria-label": `Setting of override ${index + 1}` },
        PAD_SETTINGS.map((s) => element("option", { value: s.key, text: SETTING_NAMES[s.key] || s.key })));
      setting.value = row.setting;
      const rule = () => PAD_SETTINGS.find((s) => s.key === setting.value);
      const value = element("input", { type: "number", step: "any", value: row.value, class: "narrow",
        "aria-label": `Value of override ${index + 1}` });
      const check = () => {
        const ok = settingAccepts(rule(), Number(value.value));
        value.setAttribute("aria-invalid", ok ? "false" : "true");
        value.title = `${rule().min} to ${rule().max}`;
      };
      pad.addEventListener("input", () => { row.pad = pad.value; });
      setting.addEventListener("change", () => { row.setting = setting.value; check(); });
      value.addEventListener("input", () => { row.value = value.value; check(); });
      check();
      const remove = element("button", { type: "button", class: "button small danger", text: "Remove",
        "aria-label": `Remove override ${index + 1}` });
      remove.addEventListener("click", () => { rows.splice(index, 1); draw(); });
      return element("tr", {}, [element("td", {}, pad), element("td", {}, setting), element("td", {}, value),
        element("td", {}, remove)]);
    }));
  }
  add.addEventListener("click", () => {
    rows.push({ pad: "36", setting: PAD_SETTINGS[0].key, value: "0" });
    draw();
  });
  apply.addEventListener("click", () => {
    const pads = {};
    for (const row of rows) {
      const setting = PAD_SETTINGS.find((s) => s.key === row.setting);
      const value = Number(row.value);
      if (!row.pad.trim() || !settingAccepts(setting, value)) {
        say(`Pad ${quote(row.pad)}: ${SETTING_NAMES[row.setting]} takes ${setting.min} to ${setting.max}.`, "error");
        return;
      }
      (pads[row.pad.trim()] ||= {})[row.setting] = value;
    }
    bridge.send(SEND.setPadOverrides, { pads });
  });
  const head = element("thead", {}, element("tr", {}, ["Pad", "Setting", "Value", ""].map((text) =>
    element("th", { scope: "col", text }))));
  return {
    root: element("div", {}, [element("div", { class: "table-scroll" }, element("table", { class: "grid" }, [head, body])),
      element("div", { class: "toolbar" }, [add, apply])]),
    // The controller's overrides; the rows being edited stay while they
    // have not changed.
    adopt(padObject) {
      const text = JSON.stringify(padObject);
      if (text === adopted) return;
      adopted = text;
      rows = Object.entries(padObject).flatMap(([pad, settings]) =>
        Object.entries(settings).map(([setting, value]) => ({ pad, setting, value: String(value) })));
      draw();
    },
  };
}
