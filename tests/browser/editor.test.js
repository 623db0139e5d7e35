// The editor page against the real plug-in: norva-probe bridge loads the
// bundle and runs its processor in real time; the page talks to it through
// the test server. Each group opens its own page (and probe).
import assert from "node:assert/strict";
import { createHash } from "node:crypto";
import { mkdtempSync, readFileSync, readdirSync, statSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { before, describe, test } from "node:test";
import { expectShown, facts, noteOnTicks, shownValue, useRig, UI_ROOT } from "./harness.js";

const { KEY, PARAMS, RECEIVE, SEND } = facts;
const rig = useRig();

const snapTo = (row, plain) => Math.min(row.max, Math.max(row.min,
  row.step ? row.step * Math.floor(plain / row.step + 0.5) : plain));
// A value away from the default for every parameter, spread over the range.
const spread = PARAMS.map((row) => {
  let value = snapTo(row, row.min + (row.max - row.min) * (((row.id * 37) % 97) + 1) / 99);
  if (value === row.default) value = snapTo(row, row.min + (row.max - row.min) * 0.9);
  return [row.key, value];
});
const close = (a, b) => Math.abs(a - b) <= 1e-9 * Math.max(1, Math.abs(b));

describe("the hello", () => {
  let page, hello;
  before(async () => {
    ({ page, hello } = await rig.open("hello", { preamble: spread.map(([key, value]) => `!automate ${key} ${value}`) }));
  });

  test("fills every control with the value the controller reports", async () => {
    const reported = new Map(hello.params.map((p) => [p.path, p.value]));
    for (const [key, value] of spread) {
      assert.ok(close(reported.get(key), value), `${key}: the controller reports ${reported.get(key)}, set ${value}`);
      assert.equal(await page.locator(`[data-param="${key}"]`).count() >= 1, true, `${key} has a control`);
      assert.ok(close(await shownValue(page, key), reported.get(key)), `${key} shows ${await shownValue(page, key)}`);
    }
  });

  test("shows values by name and in their units", async () => {
    const value = (key) => spread.find(([k]) => k === key)[1];
    const cases = [
      [KEY.bpm, `${value(KEY.bpm).toFixed(1)} BPM`],
      [KEY.length, `${value(KEY.length)} steps`],
    ];
    for (const [key, text] of cases) {
      assert.equal(await page.locator(`[data-param="${key}"] [role=slider], [data-param="${key}"] select`).first()
        .evaluate((el) => el.getAttribute("aria-valuetext") ?? el.selectedOptions[0].textContent), text, key);
    }
    assert.equal(await page.locator(".pattern[aria-checked=true] .pattern-number").textContent(), String(value(KEY.pattern) + 1));
    assert.equal(await page.locator("#grid-title").textContent(), `Pattern ${value(KEY.pattern) + 1}`);
    const named = [[KEY.channel, String(value(KEY.channel) + 1)], [KEY.direction, null], [KEY.resolution, null]];
    for (const [key, text] of named) {
      const shown = await page.locator(`[data-param="${key}"] select`).evaluate((el) => el.selectedOptions[0].textContent);
      if (text) assert.equal(shown, text, key);
      else assert.doesNotMatch(shown, /^\d+$/, `${key} is shown by name`);
    }
  });

  test("carries the manifest the build wrote, with the digest of the page's files", () => {
    const manifest = JSON.parse(readFileSync(path.join(UI_ROOT, "manifest.json"), "utf8"));
    assert.deepEqual(hello.identity.ui, manifest);
    assert.match(manifest.buildTime, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    const files = [];
    const walk = (folder) => {
      for (const name of readdirSync(folder)) {
        const full = path.join(folder, name);
        if (statSync(full).isDirectory()) walk(full);
        else files.push(path.relative(UI_ROOT, full).split(path.sep).join("/"));
      }
    };
    walk(UI_ROOT);
    const digest = createHash("sha256");
    for (const file of files.filter((f) => f !== "manifest.json").sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)))) {
      const data = readFileSync(path.join(UI_ROOT, file));
      digest.update(Buffer.concat([Buffer.from(`${file}\0${data.length}\0`), data]));
    }
    assert.equal(manifest.sha256, digest.digest("hex"));
  });
});

describe("edits and automation", () => {
  test("a tempo typed into the page reaches the processor", async () => {
    const bpm = 240;
    const { page, session } = await rig.open("tempo");
    const tempo = page.locator(`[data-param="${KEY.bpm}"] [role=slider]`);
    await tempo.focus();
    await page.keyboard.press("Enter");
    await page.keyboard.type(String(bpm));
    await page.keyboard.press("Enter");
    await expectShown(page, KEY.bpm, bpm);
    const edits = session.sent.filter((m) => m.path === KEY.bpm).map((m) => [m.type, m.value]);
    assert.deepEqual(edits, [[SEND.beginEdit, undefined], [SEND.setParam, bpm], [SEND.endEdit, undefined]]);
    await page.waitForTimeout(1500);
    await page.close();
    assert.equal(await session.exited, 0, session.stderr);
    const { tempo: fileTempo, ons: notes, division } = noteOnTicks(readFileSync(session.render));
    const ons = notes.map(([tick]) => tick);
    assert.equal(fileTempo, Math.round(60e6 / bpm));
    const sixteenth = division / 4;
    // Sixteenths at the new tempo: the notes after the edit come a sixteenth apart.
    const gaps = ons.slice(1).map((tick, i) => tick - ons[i]).slice(Math.floor(ons.length / 2));
    assert.ok(ons.length >= 8 && Math.min(...gaps) === sixteenth && gaps.every((g) => g % sixteenth === 0),
      `note-ons ${ons}`);
  });

  describe("the host's automation moves the controls", () => {
    let page, session;
    before(async () => { ({ page, session } = await rig.open("automation")); });
    const cases = [[KEY.length, 7], [`${PARAMS[facts.FIRST_STEP_PARAM + 2].key}`, 99], [KEY.direction, 1], [KEY.bpm, 87.5],
      [KEY.scaleMask, 2741], [KEY.run, 0]];
    for (const [key, value] of cases) {
      test(`${key} to ${value}`, async () => {
        session.host(`!automate ${key} ${value}`);
        await session.waitFor((m) => m.type === RECEIVE.paramChanged && m.path === key, "paramChanged");
        await expectShown(page, key, value);
        assert.equal(session.sent.filter((m) => m.path === key).length, 0, "the page sends no edit back");
      });
    }
    test("Shift moves a slider finely and a double-click resets it", async () => {
      const row = PARAMS.find((r) => r.key === KEY.bpm);
      const tempo = page.locator(`[data-param="${KEY.bpm}"] [role=slider]`);
      const start = await shownValue(page, KEY.bpm);
      await tempo.focus();
      await page.keyboard.press("ArrowRight");
      await page.keyboard.press("Shift+ArrowRight");
      const moved = (await shownValue(page, KEY.bpm)) - start;
      assert.ok(close(moved, (row.max - row.min) * (1 / 100 + 1 / 1000)), `moved ${moved}`);
      await tempo.dblclick();
      await expectShown(page, KEY.bpm, row.default);
    });
    test("steps beyond the length are dimmed and a stopped sequencer lights no step", async () => {
      assert.equal(await page.locator('[data-field="velocity"] .cell.beyond').count(), facts.STEP_COUNT - 7);
      assert.equal(await page.locator(".cell.playing").count(), 0);
    });
  });

  // Steps 1 to 5 play velocities 10 to 50: the note sounding at the frame
  // the page last heard of tells which step it should light.
  for (const direction of [0, 2]) {
    test(`the step lit is the one playing (direction ${direction})`, async () => {
      const length = 5;
      const step = (k) => PARAMS[facts.FIRST_STEP_PARAM + k].key;
      const preamble = [`!automate ${KEY.length} ${length}`, `!automate ${KEY.direction} ${direction}`,
        ...Array.from({ length }, (_, k) => `!automate ${step(k)} ${10 * (k + 1)}`)];
      const { page, session } = await rig.open(`playing-${direction}`, { preamble });
      await page.getByRole("tab", { name: "Diagnostics" }).click();
      const seen = [];
      for (let i = 0; i < 8; i += 1) {
        await page.waitForTimeout(120);
        seen.push(await page.evaluate(() => {
          const lit = document.querySelector('[data-field="velocity"] .cell.playing');
          const frame = [...document.querySelectorAll("dt")].find((dt) => dt.textContent === "Frame");
          return [lit ? Number(lit.dataset.step) : -1, Number(frame?.nextSibling.textContent)];
        }));
      }
      await page.close();
      await session.exited;
      const { ons, division, tempo } = noteOnTicks(readFileSync(session.render));
      const rate = session.received.find((m) => m.type === RECEIVE.transport).frame.state.sampleRate;
      const ticksPerFrame = (division * 1e6) / tempo / rate;
      for (const [lit, frame] of seen) {
        const sounding = ons.filter(([tick]) => tick <= frame * ticksPerFrame).pop();
        assert.equal(lit, sounding[1] / 10 - 1, `at frame ${frame}: lit ${lit + 1}, playing ${sounding[1] / 10}`);
      }
    });
  }
});

describe("state and CC map", () => {
  let page, session;
  before(async () => { ({ page, session } = await rig.open("state")); });

  test("a snapshot recalled brings every setting back", async () => {
    const step = PARAMS[facts.FIRST_STEP_PARAM].key;
    const before = [await shownValue(page, KEY.bpm), await shownValue(page, step)];
    await page.getByRole("button", { name: "Store" }).click();
    await session.waitFor((m) => m.type === RECEIVE.state, "state");
    await page.locator(`[data-param="${KEY.bpm}"] [role=slider]`).focus();
    await page.keyboard.press("End");
    await page.locator(`[data-param="${step}"]`).focus();
    await page.keyboard.press("0");
    await page.keyboard.press("Enter");
    await expectShown(page, step, 0);
    await page.getByRole("button", { name: "Recall" }).click();
    await expectShown(page, KEY.bpm, before[0]);
    await expectShown(page, step, before[1]);
    assert.equal(session.sent.filter((m) => m.type === SEND.setState).length, 1);
  });

  test("a binding made in the page is the controller's map, learn takes a controller, remove empties it", async () => {
    await page.getByRole("tab", { name: "CC map" }).click();
    await page.getByRole("button", { name: "Add binding" }).click();
    const row = page.locator('tr[data-binding="0"]');
    await row.waitFor();
    const map = async (test, what) => (await session.waitFor((m) => m.type === RECEIVE.ccMapChanged && test(m.map.bindings),
      what)).map.bindings;
    const edits = [["cc", "74"], ["channel", "2"], ["path", KEY.length], ["curve", "1"], ["takeover", "1"], ["min", "4"],
      ["max", "16"]];
    for (const [field, value] of edits) {
      const control = row.locator(`[data-field="${field}"]`);
      if (await control.evaluate((el) => el.tagName === "SELECT")) await control.selectOption(value);
      else await control.fill(value), await control.dispatchEvent("change");
    }
    const expected = { cc: 74, path: KEY.length, channel: 2, min: 4, max: 16, curve: facts.CC_CURVES[1],
      takeover: facts.CC_TAKEOVERS[1] };
    assert.deepEqual(await map((b) => b.length === 1 && b[0].max === 16, "the edited binding"), [expected]);
    assert.equal(await row.locator('[data-field="cc"]').inputValue(), "74");

    await row.locator('[data-field="learn"]').click();
    await page.evaluate((type) => window.norvaHost._deliver({ type, cc: 21, channel: 3, value: 64 }), RECEIVE.midiCc);
    assert.deepEqual(await map((b) => b[0]?.cc === 21, "the learnt controller"), [{ ...expected, cc: 21, channel: 4 }]);

    await row.locator('[data-field="enabled"]').uncheck();
    assert.equal((await map((b) => b[0]?.enabled === false, "the binding off"))[0].cc, 21);
    await row.locator('[data-field="remove"]').click();
    await map((b) => b.length === 0, "an empty map");
    await page.getByText("No bindings").waitFor();
  });
});

describe("banks", () => {
  let page, session;
  before(async () => {
    ({ page, session } = await rig.open("banks"));
    await page.getByRole("tab", { name: "Banks" }).click();
  });
  const status = () => page.locator(".banks .status");
  const malformed = mkdtempSync(path.join(tmpdir(), "tindrel-bank-"));
  writeFileSync(path.join(malformed, "bank.json"), "{}");
  const cases = [
    ["a folder with no bank", { folder: "/nonexistent/tindrel-bank" }, /No bank was found for “\/nonexistent\/tindrel-bank”/],
    ["a folder that is no valid bank", { folder: malformed }, /not a valid bank/],
    ["a hosted bank without a digest", { url: "https://127.0.0.1:9/bank.zip", sha: "abc" }, /64 hexadecimal digits/],
    ["a hosted bank that cannot be fetched", { url: "https://127.0.0.1:9/bank.zip", sha: "ab".repeat(32) },
      /could not be downloaded from https:\/\/127\.0\.0\.1:9\/bank\.zip/],
  ];
  for (const [what, request, words] of cases) {
    test(`${what} is refused in plain words`, async () => {
      await page.locator("#bank-source").selectOption(request.folder ? facts.BANK_SOURCES.userFolder : facts.BANK_SOURCES.hosted);
      if (request.folder) await page.locator("#bank-folder").fill(request.folder);
      else await page.locator("#bank-url").fill(request.url), await page.locator("#bank-sha").fill(request.sha);
      await page.getByRole("button", { name: "Load bank" }).click();
      await page.waitForFunction((source) => new RegExp(source).test(document.querySelector(".banks .status").textContent),
        words.source, { timeout: 10000 });
      assert.match(await status().getAttribute("class"), /error/);
    });
  }

  test("the folder picker's refusal is shown", async () => {
    await page.locator("#bank-source").selectOption(facts.BANK_SOURCES.userFolder);
    await page.getByRole("button", { name: "Choose…" }).click();
    const answer = await session.waitFor((m) => m.type === RECEIVE.folderPicked, "folderPicked");
    await page.waitForFunction((error) => document.querySelector(".banks .status").textContent.includes(error), answer.error);
  });

  test("pad overrides go to the controller and come back", async () => {
    await page.getByRole("button", { name: "Add override" }).click();
    await page.getByLabel("Setting of override 1").selectOption("gain");
    await page.getByLabel("Value of override 1").fill("2.5");
    await page.getByRole("button", { name: "Apply overrides" }).click();
    const state = await session.waitFor((m) => m.type === RECEIVE.bankState && m.reason === facts.BANK_REASONS.setPadOverrides,
      "the overrides' bank state");
    assert.deepEqual(state.pads, { 36: { gain: 2.5 } });
    await page.waitForFunction(() => document.querySelector(".banks .status").textContent === "Pad overrides applied.");
  });
});
