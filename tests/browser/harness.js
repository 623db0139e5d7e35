// What the browser tests share: the built bundle and norva-probe (from
// NORVA_BUNDLE and NORVA_PROBE, or the build/ folder of this checkout), the
// test server, one headless Chromium, pages that record their console
// errors, the artifacts folder and a reader for the probe's MIDI files.
import { readFileSync, mkdirSync } from "node:fs";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import assert from "node:assert/strict";
import { after, before } from "node:test";
import { chromium } from "playwright-core";
import { startServer } from "./server.js";

const here = path.dirname(fileURLToPath(import.meta.url));
const checkout = path.resolve(here, "../..");
export const BUNDLE = process.env.NORVA_BUNDLE || path.join(checkout, "build/Tindrel.vst3");
export const PROBE = process.env.NORVA_PROBE || path.join(checkout, "build/tools/probe/norva-probe");
export const UI_ROOT = path.join(BUNDLE, "Contents/Resources/ui");
export const ARTIFACTS = path.join(checkout, "out/browser");
export const CHROMIUM = process.env.NORVA_CHROMIUM || "/usr/bin/chromium";
export const LARGE = { width: 1120, height: 760 };
export const SMALL = { width: 620, height: 420 };

// The page's facts module, as the page itself imports it.
export const facts = await import(pathToFileURL(path.join(UI_ROOT, "facts.js")).href);

// The rig for one test file: started before its tests, stopped after them,
// when the file fails on any console error or any edit outside its gesture.
// The object it returns takes the rig's methods once it has started.
export function useRig() {
  const rig = {};
  before(async () => { Object.assign(rig, await startRig()); });
  after(async () => {
    const errors = rig.consoleErrors();
    const faults = rig.gestureFaults();
    await rig.stop();
    assert.deepEqual(errors, [], "console errors");
    assert.deepEqual(faults, [], "edits outside their gestures");
  });
  return rig;
}

export async function startRig() {
  mkdirSync(ARTIFACTS, { recursive: true });
  const server = await startServer({ uiRoot: UI_ROOT, probe: PROBE, bundle: BUNDLE, outDir: ARTIFACTS });
  const browser = await chromium.launch({ executablePath: CHROMIUM, args: ["--no-sandbox"] });
  const shim = readFileSync(path.join(here, "shim.js"), "utf8");
  const pages = [];
  return {
    server,
    // A page connected to its own probe as session name, once the hello has
    // filled it. preamble: host command lines the probe runs first.
    async open(name, { viewport = LARGE, preamble = [] } = {}) {
      server.prepare(name, preamble);
      const page = await browser.newPage({ viewport });
      const errors = [];
      page.on("console", (message) => { if (message.type() === "error") errors.push(message.text()); });
      page.on("pageerror", (error) => errors.push(error.message));
      await page.addInitScript(shim);
      await page.goto(`${server.url}?session=${name}`);
      const session = await server.session(name);
      const hello = await session.waitFor((m) => m.type === facts.RECEIVE.hello, "hello");
      await page.waitForFunction(() => document.querySelector(".connection.live"));
      pages.push({ name, errors });
      return { page, session, hello, errors };
    },
    // Faults in the edits each page sent: a value outside its parameter's
    // gesture, a gesture begun twice or never ended.
    gestureFaults() {
      return [...server.sessions()].flatMap((session) => gestureFaults(session.sent).map((f) => `${session.name}: ${f}`));
    },
    // Console errors of every page opened so far, by page.
    consoleErrors() {
      return pages.filter((p) => p.errors.length).map((p) => `${p.name}: ${p.errors.join(" | ")}`);
    },
    async stop() {
      await browser.close();
      await server.stop();
    },
  };
}

export function gestureFaults(sent) {
  const { SEND } = facts;
  const open = new Set();
  const faults = [];
  for (const message of sent) {
    if (message.type === SEND.beginEdit && open.has(message.path)) faults.push(`${message.path} begun twice`);
    if (message.type === SEND.beginEdit) open.add(message.path);
    if (message.type === SEND.endEdit && !open.delete(message.path)) faults.push(`${message.path} ended unbegun`);
    if (message.type === SEND.setParam && !open.has(message.path)) faults.push(`${message.path} set outside a gesture`);
  }
  return faults.concat([...open].map((path) => `${path} never ended`));
}

// The value a control shows for a parameter (its data-value).
export async function shownValue(page, key) {
  return page.locator(`[data-param="${key}"]`).first().getAttribute("data-value").then(Number);
}

// Waits until the control of key holds value.
export async function expectShown(page, key, value, timeout = 3000) {
  await page.waitForFunction(([k, v]) => Number(document.querySelector(`[data-param="${k}"]`)?.dataset.value) === v,
    [key, value], { timeout });
}

// The tempo, ticks per quarter note, note-ons (tick, velocity and note) and
// note-offs (tick and note) of a format 0 file the probe wrote.
export function noteOnTicks(data) {
  if (data.toString("latin1", 0, 4) !== "MThd" || data.toString("latin1", 14, 18) !== "MTrk") throw new Error("not a MIDI file");
  const track = data.subarray(22);
  let i = 0;
  let tick = 0;
  let tempo = null;
  const ons = [];
  const offs = [];
  const varlen = () => {
    let value = 0;
    for (;;) {
      const byte = track[i++];
      value = (value << 7) | (byte & 0x7f);
      if (byte < 0x80) return value;
    }
  };
  while (i < track.length) {
    tick += varlen();
    const status = track[i];
    if (status === 0xff) {
      if (track[i + 1] === 0x51) tempo = track.readUIntBE(i + 3, 3);
      i += 3 + track[i + 2];
      continue;
    }
    if ((status & 0xf0) === 0x90 && track[i + 2] > 0) ons.push([tick, track[i + 2], track[i + 1]]);
    else if ((status & 0xe0) === 0x80) offs.push([tick, track[i + 1]]);
    i += 3;
  }
  return { tempo, ons, offs, division: data.readUInt16BE(12) };
}
