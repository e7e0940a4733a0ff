// The settings page as an administrator uses it: the approved list, the two
// policies, restoring defaults and the export.
import assert from "node:assert/strict";
import { readFile } from "node:fs/promises";

import { assertShows, consoleTest, loadingNewPage, SETTINGS_PATH } from "./console.mjs";
import {
  addEntry,
  answeredInPlace,
  DEFAULT_ENTRIES,
  entryRow,
  formState,
  listedEntries,
  openSettings,
  removeEntries,
  save,
  switchPolicy,
} from "./settings_page.mjs";

// The save stores the list sorted by UTF-16 code unit, as Array.prototype.sort
// compares strings.
function sortedAsStored(entries) {
  return [...entries].sort();
}

consoleTest(
  "added entries are shown as the server keeps them, duplicates in other letter case are refused, and a removal is saved",
  async ({ page, server }) => {
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES);
    await assertShows(page.locator("#entryCount"), "3 entries");

    const cases = [
      { typed: "tessera.example", listed: ["*.tessera.example"], message: /^Added “\*\.tessera\.example”\./ },
      { typed: "www.Tessera.test", listed: ["www.Tessera.test"], withEnter: true, message: /^Added “www\.Tessera\.test”/ },
      {
        typed: "*.TESSERA.example",
        refused: /^Not added: “\*\.TESSERA\.example” is already listed as “\*\.tessera\.example”\.$/,
      },
      { typed: "x".repeat(254), refused: /too long: 256 characters as listed, at most 255/ },
      {
        typed: " one.example ; two.example ",
        listed: ["*.one.example", "*.two.example"],
        message: /^Added 2 entries\./,
      },
      // Markup characters and letters of two, three and four UTF-8 bytes must come back from the server as
      // typed, in the value and the label.
      { typed: `tag<b>&"q'.example`, listed: [`*.tag<b>&"q'.example`], message: /^Added “\*\.tag<b>&"q'\.example”/ },
      { typed: "ü注😀+%.example", listed: ["*.ü注😀+%.example"], message: /^Added “\*\.ü注😀\+%\.example”/ },
    ];
    const expected = [...DEFAULT_ENTRIES];
    for (const { typed, listed, refused, message, withEnter } of cases) {
      const shown = await addEntry(page, typed, { withEnter });
      if (refused) {
        assert.match(shown.text, refused, `refusal of ${typed}`);
        assert.match(shown.kind, /\berror\b/);
        assert.equal(await page.locator("#txtNewEntry").inputValue(), typed, "a refused entry stays in the box");
      } else {
        assert.match(shown.text, message, `addition of ${typed}`);
        assert.match(shown.text, /Save to keep the changes\.$/);
        assert.equal(await page.locator("#txtNewEntry").inputValue(), "", "the box is emptied");
        expected.push(...listed);
      }
      assert.deepEqual(await listedEntries(page), expected, `the list after adding ${typed}`);
    }
    await assertShows(page.locator("#entryCount"), `${expected.length} entries`);

    await removeEntries(page, ["*.example.net", "*.one.example"]);
    const kept = expected.filter((entry) => entry !== "*.example.net" && entry !== "*.one.example");
    assert.deepEqual(await listedEntries(page), kept);
    await assertShows(page.locator("#entryMessage"), /^Removed 2 entries\./);
    await assertShows(page.locator("#entryCount"), `${kept.length} entries`);

    await save(page);
    const stored = sortedAsStored(kept);
    assert.ok(stored.indexOf("www.Tessera.test") < stored.indexOf("www.example.org"), "capitals sort first");
    assert.deepEqual(await listedEntries(page), stored, "the page that answers the save");
    await openSettings(page, server, "URL_FILTER");
    assert.deepEqual(await listedEntries(page), stored, "the page opened again");
    await assertShows(page.locator("#entryCount"), `${stored.length} entries`);
  },
);

consoleTest(
  "the two policies keep their own settings and share one list; restoring defaults says what it replaces, then restores one policy and the list",
  async ({ page, server }) => {
    const defaults = await formState(page);
    await page.locator("#rdoSecurityLevelLow").check();
    await page.locator("#chkAdminEmail").check();
    await page.locator("#txtNotifyAdminSubject").fill("Changed subject");
    await addEntry(page, "shared.example");
    await removeEntries(page, ["*.example.net"]);
    await save(page);
    const changed = await formState(page);
    const changedList = ["*.example.com", "*.shared.example", "www.example.org"];
    assert.deepEqual(await listedEntries(page), changedList);

    await switchPolicy(page, "URL_FILTER_FILE");
    assert.deepEqual(await formState(page), defaults, "the other policy is untouched");
    assert.deepEqual(await listedEntries(page), changedList, "one list for both");
    await page.locator("#rdoDeliverActCancel").check();
    // Enter in a text field saves, as the form's first button does.
    await page.locator("#txtAdminEmail").fill("files@example.com");
    await save(page, { withEnterIn: "#txtAdminEmail" });
    const fileTransfers = await formState(page);
    assert.equal(fileTransfers.txtAdminEmail, "files@example.com");
    await switchPolicy(page, "URL_FILTER");
    assert.deepEqual(await formState(page), changed, "instant messages keep their own settings");

    const posts = [];
    page.on("request", (request) => {
      if (request.method() === "POST") posts.push(request.url());
    });
    await page.locator("#txtSenderSubject").fill("Typed, not saved");
    await page.locator("#btnReset").click();
    await assertShows(page.locator("#resetQuestion"), /^The settings of the “Instant messages” policy go back to their defaults\. Both policies share the approved list: its 3 entries are replaced by the default list\. Changes not saved here are lost\.$/,
    );
    await page.locator("#btnResetCancel").click();
    assert.deepEqual(posts, [], "cancelled, nothing is sent");
    assert.equal(await page.locator("#txtSenderSubject").inputValue(), "Typed, not saved", "the form is kept");
    await page.locator("#txtSenderSubject").fill(changed.txtSenderSubject);

    await page.locator("#btnReset").click();
    await answeredInPlace(page, () => page.locator("#btnResetConfirm").click());
    assert.equal(posts.length, 1, "confirmed, the form is sent once");
    assert.equal(await page.locator("#txtPolicyInstanceId").inputValue(), "URL_FILTER");
    assert.deepEqual(await formState(page), defaults, "the page that answers shows the defaults");
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES);
    await assertShows(page.locator("#actionMessage"), /^Defaults restored: 1 entry added, 1 removed; Security level \w+ -> Medium; Administrator email on -> off; .*\. Undo it in History$/,
    );

    await openSettings(page, server, "URL_FILTER");
    assert.deepEqual(await formState(page), defaults, "the defaults are stored");
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES);
    await openSettings(page, server, "URL_FILTER_FILE");
    assert.deepEqual(await formState(page), fileTransfers, "the other policy keeps its settings");
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES, "the shared list is the default one");
  },
);

consoleTest(
  "the export downloads the entries listed on the page, each ended by a line feed",
  async ({ page, server }) => {
    // Entries added but not saved are exported too: the file is what the page lists.
    await addEntry(page, "bücher.example");
    await addEntry(page, "example.info/path?a=1&b=<2>");
    const listed = await listedEntries(page);
    assert.deepEqual(listed, [...DEFAULT_ENTRIES, "*.bücher.example", "*.example.info/path?a=1&b=<2>"]);
    const settingsUrl = page.url();

    const [download] = await Promise.all([page.waitForEvent("download"), page.locator("#btnExport").click()]);
    assert.equal(download.suggestedFilename(), "ApprovedURLList.txt");
    const bytes = await readFile(await download.path());
    assert.deepEqual(bytes, Buffer.from(listed.map((entry) => entry + "\n").join(""), "utf8"));

    assert.equal(page.url(), settingsUrl, "the settings page stays open");
    assert.deepEqual(await listedEntries(page), listed, "with its unsaved entries");

    // Emptied with the Delete key, the list exports as an empty file and is stored empty.
    await page.locator("#approvedList").focus();
    await page.keyboard.press("ControlOrMeta+A");
    await page.keyboard.press("Delete");
    assert.deepEqual(await listedEntries(page), []);
    const [emptyDownload] = await Promise.all([page.waitForEvent("download"), page.locator("#btnExport").click()]);
    assert.equal((await readFile(await emptyDownload.path())).length, 0, "an empty file");
    await save(page);
    await openSettings(page, server, "URL_FILTER");
    assert.deepEqual(await listedEntries(page), [], "no entry, not even an empty one");
    await assertShows(page.locator("#entryCount"), "0 entries");
  },
);

consoleTest(
  "a list of 50,000 entries: only the rows in view exist, the filter narrows it, a row's button removes its entry",
  async ({ page, server }) => {
    const sites = Array.from({ length: 50_000 }, (_, i) => `site-${String(i).padStart(5, "0")}.example`);
    // Handed over as the import page would: the page's own script then posts them all.
    const added = await page.evaluate((texts) => window.Tessera.settings.addImportedEntries(texts).added.length, sites);
    assert.equal(added, sites.length);
    await save(page);
    await openSettings(page, server, "URL_FILTER");
    await assertShows(page.locator("#entryCount"), "50,003 entries");
    assert.ok((await page.locator("#approvedList .entry-row").count()) <= 12, "only the rows in view are made");

    await page.locator("#approvedList").focus();
    await page.keyboard.press("End");
    await assertShows(page.locator("#approvedList .entry-row.is-active .entry-text"), "www.example.org");

    await page.locator("#txtFilter").pressSequentially("SITE-4999");
    await assertShows(page.locator("#entryCount"), "10 of 50,003 entries shown");
    const filtered = await listedEntries(page);
    assert.deepEqual(filtered, Array.from({ length: 10 }, (_, i) => `*.site-4999${i}.example`));

    await (await entryRow(page, "*.site-49993.example")).locator(".entry-remove").click();
    await assertShows(page.locator("#entryMessage"), /^Removed “\*\.site-49993\.example”\./);
    await assertShows(page.locator("#entryCount"), "9 of 50,002 entries shown");

    // A new entry that the filter would hide clears it, and is shown marked.
    await addEntry(page, "zz-new.example");
    assert.equal(await page.locator("#txtFilter").inputValue(), "");
    await assertShows(page.locator("#entryCount"), "50,003 entries");
    const newRow = await entryRow(page, "*.zz-new.example");
    assert.match(await newRow.getAttribute("class"), /\bis-new\b/);
    assert.equal(await newRow.getAttribute("aria-selected"), "true");

    // Two entries of a large list go as a PATCH through the API, and the page stays.
    await page.locator("#btnSave").click();
    await assertShows(page.locator("#actionText"), "Saved: 1 entry added, 1 removed.");
    await openSettings(page, server, "URL_FILTER");
    await assertShows(page.locator("#entryCount"), "50,003 entries");
    await page.locator("#txtFilter").fill("site-4999");
    const shownAfterSave = await listedEntries(page);
    assert.equal(shownAfterSave.includes("*.site-49993.example"), false, "the removed entry stays removed");
  },
  { timeout: 120_000 },
);

consoleTest(
  "with scripts off the list is a plain list box, and a save keeps the entries selected in it",
  async ({ page, server }) => {
    const box = page.locator("select#stApprovedURL");
    const shown = await box.locator("option").evaluateAll((options) => options.map((option) => option.value));
    assert.deepEqual(shown, DEFAULT_ENTRIES);
    await box.selectOption(["*.example.com", "www.example.org"]);
    await loadingNewPage(page, () => page.locator("#btnSave").click());
    await page.goto(new URL(SETTINGS_PATH, server.baseUrl).href);
    assert.deepEqual(
      await box.locator("option").evaluateAll((options) => options.map((option) => option.value)),
      ["*.example.com", "www.example.org"],
    );
  },
  { contextOptions: { javaScriptEnabled: false } },
);
