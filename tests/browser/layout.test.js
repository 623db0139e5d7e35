// The page at the host's default size and at its smallest: every control
// can be reached with the keyboard and scrolled into view, and nothing is
// cut off sideways. Screenshots of both sizes go to out/browser.
import assert from "node:assert/strict";
import path from "node:path";
import { before, describe, test } from "node:test";
import { ARTIFACTS, LARGE, SMALL, useRig } from "./harness.js";

const FOCUSABLE = "button, select, input, [tabindex]";
const rig = useRig();

// The page with each tab shown in turn: fn(page, tabName).
async function eachTab(page, fn) {
  const tabs = page.getByRole("tab");
  for (let i = 0; i < (await tabs.count()); i += 1) {
    await tabs.nth(i).click();
    await fn(page, await tabs.nth(i).textContent());
  }
}

for (const size of [LARGE, SMALL]) {
  describe(`at ${size.width} x ${size.height}`, () => {
    let page;
    before(async () => {
      ({ page } = await rig.open(`layout-${size.width}`, { viewport: size }));
      // Something in the lists, so that their controls are there too.
      await page.getByRole("tab", { name: "CC map" }).click();
      await page.getByRole("button", { name: "Add binding" }).click();
      await page.locator('tr[data-binding="0"]').waitFor();
      await page.getByRole("tab", { name: "Banks" }).click();
      await page.getByRole("button", { name: "Add override" }).click();
    });

    test("every control can be focused and scrolled into view", async () => {
      await eachTab(page, async (_, tab) => {
        const unreachable = await page.evaluate(([selector, width, height]) => {
          const missed = [];
          for (const el of document.querySelectorAll(selector)) {
            if (el.disabled || !el.getClientRects().length) continue; // in a hidden tab
            el.focus();
            el.scrollIntoView({ block: "nearest", inline: "nearest" });
            const box = el.getBoundingClientRect();
            const inView = box.width > 0 && box.height > 0 && box.left >= 0 && box.top >= 0 &&
              box.right <= width + 1 && box.bottom <= height + 1; // a sub-pixel edge is in view
            if (document.activeElement !== el || !inView) {
              missed.push(`${el.outerHTML.slice(0, 60)} focused ${document.activeElement === el} at ${Math.round(box.left)},${Math.round(box.top)} to ${Math.round(box.right)},${Math.round(box.bottom)}`);
            }
          }
          return missed;
        }, [FOCUSABLE, size.width, size.height]);
        assert.deepEqual(unreachable, [], `with ${tab} shown`);
      });
    });

    test("the Tab key reaches every parameter and every tab", async () => {
      await page.evaluate(() => {
        window.reached = new Set();
        document.addEventListener("focusin", (event) => {
          const el = event.target;
          const id = el.closest("[data-param]")?.dataset.param ?? (el.getAttribute("role") === "tab" ? "tablist"
            : el.closest("[role=grid]") ? "grid" : null);
          if (id) window.reached.add(id);
        });
      });
      await page.locator("body").focus();
      for (let i = 0; i < 120; i += 1) await page.keyboard.press("Tab");
      const reached = new Set(await page.evaluate(() => [...window.reached]));
      const params = await page.evaluate(() => [...new Set([...document.querySelectorAll("[data-param]")]
        .filter((el) => !el.closest("[role=grid]")).map((el) => el.dataset.param))]);
      const missing = params.filter((param) => !reached.has(param));
      assert.deepEqual(missing, []);
      assert.ok(reached.has("tablist") && reached.has("grid"), "the tabs and the step grid");
    });

    test("nothing is wider than the window; screenshots", async () => {
      await page.getByRole("tab", { name: "CC map" }).click();
      await page.evaluate(() => window.scrollTo(0, 0));
      const width = await page.evaluate(() => document.documentElement.scrollWidth);
      assert.ok(width <= size.width, `the page is ${width} px wide`);
      const stem = path.join(ARTIFACTS, `editor-${size.width}x${size.height}`);
      await page.screenshot({ path: `${stem}.png` });
      await page.screenshot({ path: `${stem}-full.png`, fullPage: true });
      await page.getByRole("tab", { name: "Diagnostics" }).click();
      await page.screenshot({ path: `${stem}-diagnostics.png`, fullPage: true });
    });
  });
}
