// The import page: an uploaded list file is reviewed there and its entries are
// carried into the settings page's list, in a window of its own or, without
// one, on the way back to the settings page.
import assert from "node:assert/strict";

import path from "node:path";

import { assertShows, consoleTest, loadingNewPage, REPO_ROOT, saveScreenshot } from "./console.mjs";
import { DEFAULT_ENTRIES, entryMessage, listedEntries, openSettings, save, switchPolicy } from "./settings_page.mjs";

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
// Beside the settings page, the review knows its list too.
function reviewed(isBesideSettings) {
  return [
    ["alpha.example", "listed as *.alpha.example", false],
    ["www.Beta.example", "", false],
    ["*.gamma.example", "", false],
    ["Alpha.example", "is already listed as “*.alpha.example”", true],
    isBesideSettings
      ? ["EXAMPLE.com", "is on the settings page’s list already, as “*.example.com”", true]
      : ["EXAMPLE.com", "listed as *.EXAMPLE.com", false],
    ["bücher.example", "listed as *.bücher.example", false],
    [
      'example.info/find?q="a"&lang=en',
      'listed as *.example.info/find?q="a"&lang=en; check: it holds a path after the site',
      false,
    ],
  ];
}
const ADDED = [
  "*.alpha.example",
  "www.Beta.example",
  "*.gamma.example",
  "*.bücher.example",
  '*.example.info/find?q="a"&lang=en',
];
const STORED = [...DEFAULT_ENTRIES, ...ADDED].sort();

async function uploadListFile(importPage, isBesideSettings) {
  await importPage.locator("#fileInput").setInputFiles(LIST_FILE);
  await loadingNewPage(importPage, () => importPage.locator("#btnUpload").click());
  const shown = await importPage
    .locator("#importedEntries li")
    .evaluateAll((items) =>
      items.map((item) => [
        item.querySelector(".entry-text").textContent,
        item.querySelector(".entry-note")?.textContent ?? "",
        item.classList.contains("is-refused"),
      ]),
    );
  assert.deepEqual(shown, reviewed(isBesideSettings), "the file's entries, one per line, in file order");
  await assertShows(importPage.locator("#importSummary"), isBesideSettings
      ? "“approved-sites.txt”: 7 entries in the file; 5 entries to add, 1 on the settings page’s list already, " +
          "1 left out as marked; 1 to check."
      : "“approved-sites.txt”: 7 entries in the file; 6 entries to add, 1 left out as marked; 1 to check. " +
          "The settings page checks them against its list when they arrive.",
  );
  assert.equal(await importPage.locator("#importEncoding").isVisible(), false, "a UTF-8 file draws no warning");
  assert.equal(await importPage.locator("#btnAddToList").isEnabled(), true);
}

consoleTest(
  "entries imported in a window of its own go into the list of the settings page that opened it, and are stored on save",
  async ({ page, server }) => {
    const [importPage] = await Promise.all([page.waitForEvent("popup"), page.locator("#lnkImport").click()]);
    await importPage.waitForURL("**/scan/WebThreatProtection_Import.htm?*");
    await importPage.waitForLoadState("load");
    await assertShows(importPage.locator("#importSummary"), "No entries to review yet: choose a list file and upload it.",
    );
    assert.equal(await importPage.locator("#btnAddToList").isDisabled(), true, "nothing to add yet");

    await uploadListFile(importPage, true);
    await importPage.locator("#chkProblemsOnly").check();
    assert.deepEqual(
      await importPage.locator("#importedEntries li:visible .entry-text").allTextContents(),
      ["Alpha.example", "EXAMPLE.com", 'example.info/find?q="a"&lang=en'],
      "the problems only",
    );
    await saveScreenshot(importPage, "import.png", path.join(REPO_ROOT, "docs", "screenshot-import.png"));
    await importPage.locator("#chkProblemsOnly").uncheck();
    await importPage.locator("#btnAddToList").click();
    await assertShows(importPage.locator("#importMessage"), "Added 5 entries to the list on the settings page. Save the settings there to keep them; this window can be closed.",
    );
    assert.equal(await importPage.locator("#btnAddToList").isDisabled(), true, "added once, not twice");
    await importPage.close();

    assert.deepEqual(await listedEntries(page), [...DEFAULT_ENTRIES, ...ADDED]);
    const message = await entryMessage(page);
    assert.equal(
      message.text,
      "Added 5 imported entries. Check: “*.example.info/find?q=\"a\"&lang=en” holds a path after the site. " +
        "Save to keep the changes.",
    );
    assert.match(message.kind, /\bwarning\b/);

    await save(page);
    assert.deepEqual(await listedEntries(page), STORED, "the page that answers the save");
    await openSettings(page, server, "URL_FILTER");
    assert.deepEqual(await listedEntries(page), STORED, "the page opened again");
  },
);

consoleTest(
  "entries imported in the settings page's own window are added on the way back to it, for the same policy",
  async ({ page, server }) => {
    await switchPolicy(page, "URL_FILTER_FILE");
    // As when the browser refuses the import window: the page opens in place.
    await page.evaluate(() => {
      window.open = () => null;
    });
    await loadingNewPage(page, () => page.locator("#lnkImport").click());
    assert.equal(new URL(page.url()).pathname, "/scan/WebThreatProtection_Import.htm");
    await uploadListFile(page, false);
    await page.locator("#btnAddToList").click();
    await assertShows(page.locator("#importMessage"), /^The entries will be added to the list when you go back to the settings page; save the settings there to keep them\./,
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
  },
);

consoleTest(
  "a file that is not UTF-8 is named with a warning, and a name beside its punycode form is marked to check",
  async ({ page }) => {
    await page.evaluate(() => {
      window.open = () => null;
    });
    await loadingNewPage(page, () => page.locator("#lnkImport").click());
    const upload = async (name, buffer) => {
      await page.locator("#fileInput").setInputFiles({ name, mimeType: "text/plain", buffer });
      await loadingNewPage(page, () => page.locator("#btnUpload").click());
      return page.locator("#importedEntries li").evaluateAll((items) =>
        items.map((item) => item.innerText.replace(/\s+/g, " ").trim()),
      );
    };

    assert.deepEqual(await upload("latin1.txt", Buffer.from("b\xfccher.example\n", "latin1")), [
      "b\ufffdcher.example listed as *.b\ufffdcher.example",
    ]);
    await assertShows(page.locator("#importEncoding"), /^“latin1\.txt” is not valid UTF-8\. It was read as UTF-8, .* Windows-1252 \(Latin-1\)/,
    );

    assert.deepEqual(
      await upload("names.txt", Buffer.from("bücher.example\nxn--bcher-kva.example\nhttp://a.example/\n", "utf8")),
      [
        "bücher.example listed as *.bücher.example",
        "xn--bcher-kva.example listed as *.xn--bcher-kva.example; check: it names the same site as “bücher.example”",
        "http://a.example/ listed as *.http://a.example/; check: it starts with a scheme, which a site is written without",
      ],
    );
    assert.equal(await page.locator("#importEncoding").isVisible(), false);
  },
);
