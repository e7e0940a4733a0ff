// What the administrator is told and kept from: the message after each
// action, History's diff and one-click restore, the guard on unsaved changes,
// a save after the session ended, and dark mode.
import assert from "node:assert/strict";
import path from "node:path";

import {
  ADMIN_PASSWORD,
  assertShows,
  consoleTest,
  loadingNewPage,
  REPO_ROOT,
  saveScreenshot,
  SETTINGS_PATH,
} from "./console.mjs";
import { addEntry, answeredInPlace, DEFAULT_ENTRIES, listedEntries, openSettings, save } from "./settings_page.mjs";

const actionText = (page) => page.locator("#actionText").textContent();

consoleTest(
  "each save and reset says what it changed, History shows the change, and one click undoes the reset",
  async ({ page, server }) => {
    await addEntry(page, "one.example");
    await page.locator("#rdoSecurityLevelHigh").check();
    await save(page);
    assert.equal(await actionText(page), "Saved: 1 entry added, 0 removed; Security level Medium -> High.");
    await save(page);
    assert.equal(await actionText(page), "Saved: nothing changed.");

    await page.locator("#btnReset").click();
    await answeredInPlace(page, () => page.locator("#btnResetConfirm").click());
    assert.equal(await actionText(page), "Defaults restored: 0 entries added, 1 removed; Security level High -> Medium.");
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES);

    await loadingNewPage(page, () => page.getByRole("link", { name: "Undo it in History" }).click());
    const reset = page.locator(new URL(page.url()).hash);
    await assertShows(reset.locator(".badge"), "reset");
    const changes = await reset.locator("table.changes tbody tr").evaluateAll((rows) =>
      rows.map((row) => Array.from(row.cells, (cell) => cell.innerText.replace(/\s+/g, " ").trim())),
    );
    assert.deepEqual(changes, [
      ["Instant messages", "Security level", "High", "Medium"],
      ["Both policies", "Approved sites", "1 entry removed *.one.example", "0 entries added"],
    ]);
    await saveScreenshot(page, "history.png", path.join(REPO_ROOT, "docs", "screenshot-history.png"));

    await loadingNewPage(page, () =>
      reset.getByRole("button", { name: "Restore the state before this change" }).click(),
    );
    await assertShows(page.locator("main > .message"), /^Settings restored as they were before record \d+ \(.+ UTC\)\. Changed: 1 entry added, 0 removed; Security level Medium -> High\.$/,
    );
    await assertShows(page.locator("#historyRecords .badge").first(), "restore");

    await page.locator("#selAction").selectOption("sign-in");
    await loadingNewPage(page, () => page.getByRole("button", { name: "Show" }).click());
    assert.deepEqual(await page.locator("#historyRecords .badge").allTextContents(), ["sign-in"]);

    await openSettings(page, server, "URL_FILTER");
    assert.deepEqual(await listedEntries(page), ["*.example.com", "*.example.net", "*.one.example", "www.example.org"]);
    assert.equal(await page.locator("#rdoSecurityLevelHigh").isChecked(), true, "the restored state is stored");
  },
);

consoleTest(
  "unsaved changes: leaving asks first, and a save after the session ended signs in again and keeps them",
  async ({ page, server, context }) => {
    await addEntry(page, "kept.example");
    const asked = page.waitForEvent("dialog");
    const clicked = page.getByRole("link", { name: "File transfers", exact: true }).click();
    const question = await asked;
    assert.equal(question.type(), "beforeunload");
    await question.dismiss();
    await clicked;
    assert.equal(await page.locator("#txtPolicyInstanceId").inputValue(), "URL_FILTER", "the page stays");

    // The session ends in another tab.
    const other = await context.newPage();
    await other.goto(new URL(SETTINGS_PATH, server.baseUrl).href);
    await loadingNewPage(other, () => other.locator("#btnSignOut").click());
    await other.close();

    await page.locator("#btnSave").click();
    await page.locator("#signInDialog").waitFor({ state: "visible" });
    await page.locator("#txtAgainUser").fill("admin");
    await page.locator("#txtAgainPassword").fill("not the password");
    await page.locator("#btnSignInAgain").click();
    await page.locator("#signInAgainMessage", { hasText: "not correct" }).waitFor();
    await page.locator("#txtAgainPassword").fill(ADMIN_PASSWORD);
    await answeredInPlace(page, () => page.locator("#btnSignInAgain").click());
    assert.equal(await actionText(page), "Saved: 1 entry added, 0 removed.");
    assert.ok((await listedEntries(page)).includes("*.kept.example"));

    // Saved, the page leaves without asking.
    await loadingNewPage(page, () => page.getByRole("link", { name: "File transfers", exact: true }).click());
    assert.equal(await page.locator("#txtPolicyInstanceId").inputValue(), "URL_FILTER_FILE");
  },
);
