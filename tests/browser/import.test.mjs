// The import page: an uploaded list file is reviewed there and its entries are
// carried into the settings page's list, in a window of its own or, without
// one, on the way back to the settings page.
import assert from "node:assert/strict";
import { after, before, test } from "node:test";

import { loadingNewPage, launchBrowser, saveScreenshot, withConsole } from "./console.mjs";
import { DEFAULT_ENTRIES, entryMessage, listedEntries, openSettings, save, switchPolicy } from "./settings_page.mjs";

const TEST_TIMEOUT_MS = 60_000;
let browser;
before(async () => {
  browser = await launchBrowser();
});
after(() => browser?.close());

// A list file as another system writes it: CR LF line ends, a duplicate in
// other letter case, an entry the list already holds in other letter case,
// letters beyond ASCII (UTF-8) and a URL whose query holds markup characters.
const LIST_FILE = {
  name: "approved-sites.txt",
  mimeType: "text/plain",
  buffer: Buffer.from(
    [
      "alpha.example",
      "www.Beta.example",
      "*.gamma.example",
      "Alpha.example",
      "EXAMPLE.com",
      "bücher.example",
      'example.info/find?q="a"&lang=en',
      "",
    ].join("\r\n"),
    "utf8",
  ),
};
// Each line of the file as the import page lists it: text, note, left out.
const REVIEWED = [
  ["alpha.example", "listed as *.alpha.example", false],
  ["www.Beta.example", "", false],
  ["*.gamma.example", "", false],
  ["Alpha.example", "is already listed as “*.alpha.example”", true],
  ["EXAMPLE.com", "listed as *.EXAMPLE.com", false],
  ["bücher.example", "listed as *.bücher.example", false],
  ['example.info/find?q="a"&lang=en', 'listed as *.example.info/find?q="a"&lang=en', false],
];
const ADDED = [
  "*.alpha.example",
  "www.Beta.example",
  "*.gamma.example",
  "*.bücher.example",
  '*.example.info/find?q="a"&lang=en',
];
const STORED = [...DEFAULT_ENTRIES, ...ADDED].sort();

async function uploadListFile(importPage) {
  await importPage.locator("#fileInput").setInputFiles(LIST_FILE);
  await loadingNewPage(importPage, () => importPage.locator("#btnUpload").click());
  const reviewed = await importPage
    .locator("#importedEntries li")
    .evaluateAll((items) =>
      items.map((item) => [
        item.querySelector(".entry-text").textContent,
        item.querySelector(".entry-note")?.textContent ?? "",
        item.classList.contains("is-refused"),
      ]),
    );
  assert.deepEqual(reviewed, REVIEWED, "the file's entries, one per line, in file order");
  assert.equal(
    await importPage.locator("#importSummary").textContent(),
    "7 entries in the file, 1 of them left out as marked.",
  );
  assert.equal(await importPage.locator("#btnAddToList").isEnabled(), true);
}

test(
  "entries imported in a window of its own go into the list of the settings page that opened it, and are stored on save",
  { timeout: TEST_TIMEOUT_MS },
  () =>
    withConsole(browser, async ({ page, server }) => {
      const [importPage] = await Promise.all([page.waitForEvent("popup"), page.locator("#lnkImport").click()]);
      await importPage.waitForURL("**/scan/WebThreatProtection_Import.htm?*");
      await importPage.waitForLoadState("load");
      assert.equal(
        await importPage.locator("#importSummary").textContent(),
        "No entries to review yet: choose a list file and upload it.",
      );
      assert.equal(await importPage.locator("#btnAddToList").isDisabled(), true, "nothing to add yet");

      await uploadListFile(importPage);
      await saveScreenshot(importPage, "import.png");
      await importPage.locator("#btnAddToList").click();
      assert.equal(
        await importPage.locator("#importMessage").textContent(),
        "Added 5 entries to the list on the settings page (2 already listed or not valid). " +
          "Save the settings there to keep them; this window can be closed.",
      );
      await importPage.close();

      assert.deepEqual(await listedEntries(page), [...DEFAULT_ENTRIES, ...ADDED]);
      const message = await entryMessage(page);
      assert.equal(
        message.text,
        "Added 5 imported entries. Not added: “Alpha.example” is already listed as “*.alpha.example”; " +
          "“EXAMPLE.com” is already listed as “*.example.com”. Save to keep the changes.",
      );
      assert.match(message.kind, /\bwarning\b/);

      await save(page);
      assert.deepEqual(await listedEntries(page), STORED, "the page that answers the save");
      await openSettings(page, server, "URL_FILTER");
      assert.deepEqual(await listedEntries(page), STORED, "the page opened again");
    }),
);

test(
  "entries imported in the settings page's own window are added on the way back to it, for the same policy",
  { timeout: TEST_TIMEOUT_MS },
  () =>
    withConsole(browser, async ({ page, server }) => {
      await switchPolicy(page, "URL_FILTER_FILE");
      // As when the browser refuses the import window: the page opens in place.
      await page.evaluate(() => {
        window.open = () => null;
      });
      await loadingNewPage(page, () => page.locator("#lnkImport").click());
      assert.equal(new URL(page.url()).pathname, "/scan/WebThreatProtection_Import.htm");
      await uploadListFile(page);
      await page.locator("#btnAddToList").click();
      assert.match(
        await page.locator("#importMessage").textContent(),
        /^The entries will be added to the list when you go back to the settings page; save the settings there to keep them\./,
      );

      await loadingNewPage(page, () => page.getByRole("link", { name: "Go back now" }).click());
      assert.equal(
        await page.locator("#txtPolicyInstanceId").inputValue(),
        "URL_FILTER_FILE",
        "back to the same policy",
      );
      assert.deepEqual(await listedEntries(page), [...DEFAULT_ENTRIES, ...ADDED]);
      assert.match((await entryMessage(page)).text, /^Added 5 imported entries\. Not added: /);

      await save(page);
      await openSettings(page, server, "URL_FILTER_FILE");
      assert.deepEqual(await listedEntries(page), STORED, "stored");
      assert.equal((await entryMessage(page)).text, "", "a later visit adds nothing again");
    }),
);
