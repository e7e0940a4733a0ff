// The approved list in Chromium as an administrator meets it: a console of its
// own with N entries stored, then the time from navigation until the list is
// usable, each keystroke of a filter, removing one entry and saving it (a
// PATCH through the API), and the
// memory of the tab. Run from the repository, after the release build and the
// browser tests' npm install:
//   node bench/browser_list.mjs [entries...]      (default: 50000 1000000)
import { execFileSync } from "node:child_process";
import { readFile } from "node:fs/promises";
import path from "node:path";

import { launchBrowser, openContext, signIn, startConsole, SETTINGS_PATH } from "../tests/browser/console.mjs";

const sizes = process.argv.slice(2).map(Number);
const ENTRY_COUNTS = sizes.length > 0 ? sizes : [50_000, 1_000_000];
const FILTER = "site-12345";

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Resident memory of Chromium's renderer processes, in MiB: the tab's share.
function rendererMiB() {
  const lines = execFileSync("ps", ["-eo", "rss=,args="], { encoding: "utf8" }).split("\n");
  return lines
    .filter((line) => line.includes("--type=renderer"))
    .reduce((sum, line) => sum + Number(line.trim().split(/\s+/)[0]) / 1024, 0);
}

// Waits for the page that the script's post answers with, as the tests do.
async function timedSave(page, action) {
  await page.evaluate(() => {
    document.documentElement.dataset.replaced = "pending";
  });
  const started = performance.now();
  await action();
  await page.waitForFunction(
    () =>
      document.documentElement.dataset.replaced === undefined &&
      document.querySelector('#approvedList[data-ready="true"]') !== null,
    null,
    { timeout: 120_000, polling: 20 },
  );
  return performance.now() - started;
}

// The console's own time for the last request of `method` on a path that
// begins with `pathStart`, from its access log: what the server spent of a
// step, the rest being the browser's and the network's.
// The console writes its access log lines a moment after the answer, so the
// log is read again until the line is there.
async function serverSeconds(server, method, pathStart) {
  for (let attempt = 0; attempt < 50; ++attempt) {
    const lines = (await readFile(path.join(server.dataDir, "access.log"), "utf8")).trim().split("\n");
    const line = lines.reverse().find((each) => {
      const fields = each.split(" ");
      return fields[3] === method && fields[4].startsWith(pathStart);
    });
    if (line !== undefined) return Number(line.split(" ").at(-1)) / 1000;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return NaN;
}

// A figure of a save that did not store the list would be meaningless.
async function expectCount(page, count) {
  const shown = await page.locator("#entryCount").textContent();
  if (shown !== `${count.toLocaleString("en-US")} entries`) {
    const outcome = await page.locator("#actionMessage").textContent();
    throw new Error(`expected ${count} entries after the save, the page shows "${shown}" (${outcome.trim()})`);
  }
}

async function measure(browser, entryCount) {
  const server = await startConsole();
  const { context, page } = await openContext(browser);

  context.setDefaultTimeout(120_000);
  context.setDefaultNavigationTimeout(120_000);
  try {
    await signIn(page, server);
    await page.locator('#approvedList[data-ready="true"]').waitFor();
    await page.evaluate((count) => {
      const texts = new Array(count);
      for (let i = 0; i < count; i++) texts[i] = "site-" + String(i).padStart(7, "0") + ".example";
      window.Tessera.settings.addImportedEntries(texts);
    }, entryCount);
    const firstSaveMs = await timedSave(page, () => page.locator("#btnSave").click());
    await expectCount(page, entryCount + 3);

    const url = new URL(SETTINGS_PATH, server.baseUrl).href;
    const started = performance.now();
    await page.goto(url, { waitUntil: "commit" });
    await page.locator('#approvedList[data-ready="true"]').waitFor();
    const usableMs = performance.now() - started;
    // The same, as the page itself measured it from the navigation's start.
    const readyMs = await page.evaluate(() => performance.getEntriesByName("approved-list-ready")[0].startTime);
    const loadedMiB = rendererMiB();

    await page.locator("#txtFilter").focus();
    const keystrokes = [];
    for (const character of FILTER) {
      keystrokes.push(
        await page.evaluate(async (typed) => {
          const box = document.getElementById("txtFilter");
          const began = performance.now();
          box.value += typed;
          box.dispatchEvent(new Event("input", { bubbles: true }));
          await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
          return performance.now() - began;
        }, character),
      );
    }
    await page.locator("#txtFilter").fill("");
    await page.locator("#txtFilter").dispatchEvent("input");

    const removeStarted = performance.now();
    await page.locator("#approvedList .entry-row .entry-remove").first().click();
    const removeMs = performance.now() - removeStarted;
    // A change of one entry goes as a PATCH through the API, and the page stays.
    const saveStarted = performance.now();
    await page.locator("#btnSave").click();
    await page.waitForFunction(() => performance.getEntriesByName("settings-saved").length > 0, null, {
      timeout: 120_000,
      polling: 20,
    });
    const saveMs = performance.now() - saveStarted;
    await expectCount(page, entryCount + 2);
    const tabMiB = rendererMiB();
    const saveServer = await serverSeconds(server, "PATCH", "/api/v1/approved-list");
    console.log(
      `${entryCount} entries: first save from the page ${(firstSaveMs / 1000).toFixed(2)} s; ` +
        `load to usable ${(usableMs / 1000).toFixed(2)} s (in the page ${(readyMs / 1000).toFixed(2)} s); filter keystroke median ${median(keystrokes).toFixed(0)} ms, ` +
        `max ${Math.max(...keystrokes).toFixed(0)} ms; remove one ${removeMs.toFixed(0)} ms; ` +
        `save ${(saveMs / 1000).toFixed(2)} s (the console: ${saveServer.toFixed(2)} s); renderer memory ${loadedMiB.toFixed(0)} MiB loaded, ${tabMiB.toFixed(0)} MiB after the save`,
    );
  } finally {
    await context.close();
    await server.stop();
  }
}

const browser = await launchBrowser();
try {
  for (const count of ENTRY_COUNTS) await measure(browser, count);
} finally {
  await browser.close();
}
