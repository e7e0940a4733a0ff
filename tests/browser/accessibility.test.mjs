// Every page at phone widths (WCAG 1.4.10 reflow: nothing scrolls sideways,
// Sign-out stays in view) and under axe-core's WCAG 2.1 A and AA rules, in
// the light and the dark colour scheme.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";

import { consoleTest, loadingNewPage, REPO_ROOT } from "./console.mjs";

const AXE_SOURCE = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
const WCAG_21_AA = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"];
const LIST_FILE = path.join(REPO_ROOT, "tests", "browser", "accessibility-list.txt");

// Each page as a signed-in administrator reaches it, and the mark that says
// its scripts are done.
const PAGES = [
  { name: "settings", open: openSettingsPage, ready: '#approvedList[data-ready="true"]' },
  { name: "import review", open: openImportReview, ready: "#importedEntries li" },
  { name: "history", open: openHistory, ready: "#historyRecords" },
  { name: "account", open: (page, server) => openConsolePage(page, server, "account"), ready: "#authenticatorState" },
  {
    name: "administrators",
    open: (page, server) => openConsolePage(page, server, "administrators"),
    ready: "#administratorAccounts",
  },
];

async function openSettingsPage(page, server) {
  await page.goto(server.baseUrl);
}

async function openImportReview(page, server) {
  await openSettingsPage(page, server);
  await page.locator('#approvedList[data-ready="true"]').waitFor();
  await page.evaluate(() => {
    window.open = () => null; // the import page opens in place
  });
  await loadingNewPage(page, () => page.locator("#lnkImport").click());
  await page.locator("#fileInput").setInputFiles(LIST_FILE);
  await loadingNewPage(page, () => page.locator("#btnUpload").click());
}

async function openHistory(page, server) {
  await page.goto(new URL("history", server.baseUrl).href);
}

async function openConsolePage(page, server, path) {
  await page.goto(new URL(path, server.baseUrl).href);
}

async function axeViolations(page) {
  // Evaluated by the browser's debugger, which the page's script-src 'self' does not stop.
  await page.evaluate(AXE_SOURCE);
  const violations = await page.evaluate(
    async (tags) => (await window.axe.run(document, { runOnly: { type: "tag", values: tags } })).violations,
    WCAG_21_AA,
  );
  return violations.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(" | ")}`);
}

async function sidewaysOverflow(page) {
  return page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
}

for (const { name, open, ready } of PAGES) {
  consoleTest(`the ${name} page reflows at 390 and 320 px and has no WCAG 2.1 AA violation in either colour scheme`, async ({ page, server }) => {
    for (const colorScheme of ["light", "dark"]) {
      await page.emulateMedia({ colorScheme });
      for (const width of [1280, 390, 320]) {
        const where = `${name}, ${colorScheme}, ${width} px`;
        await page.setViewportSize({ width, height: 800 });
        await open(page, server);
        await page.locator(ready).first().waitFor();
        assert.equal(await sidewaysOverflow(page), 0, `${where}: nothing scrolls sideways`);
        const signOut = await page.locator("#btnSignOut").boundingBox();
        assert.ok(signOut && signOut.x >= 0 && signOut.x + signOut.width <= width, `${where}: Sign-out is in view`);
        assert.deepEqual(await axeViolations(page), [], `${where}: axe-core finds nothing`);
      }
    }
  }, { timeout: 180_000 });
}
