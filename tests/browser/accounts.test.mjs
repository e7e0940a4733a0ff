// Accounts as their holders meet them: an auditor's read-only pages, and a
// session ended from another browser.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";

import {
  ADMIN_PASSWORD,
  assertShows,
  CONSOLE_PROGRAM,
  consoleTest,
  fillSignIn,
  loadingNewPage,
  openContext,
  SETTINGS_PATH,
  signIn,
} from "./console.mjs";
import { addEntry, save } from "./settings_page.mjs";

const AUDITOR_PASSWORD = "an auditor reads only";

function addAccount(server, name, role, password) {
  const made = spawnSync(CONSOLE_PROGRAM, ["user", "add", name, "--role", role, "--data", server.dataDir], {
    input: password + "\n",
    encoding: "utf8",
  });
  assert.equal(made.status, 0, made.stderr);
}

consoleTest("an auditor's settings page shows the settings and changes nothing, and History offers no restore", async ({ page, server }) => {
  await addEntry(page, "audited.example");
  await save(page);
  addAccount(server, "audrey", "auditor", AUDITOR_PASSWORD);
  await loadingNewPage(page, () => page.getByRole("button", { name: "Sign out" }).click());
  await fillSignIn(page, "audrey", AUDITOR_PASSWORD);
  assert.equal(new URL(page.url()).pathname, "/" + SETTINGS_PATH);
  await assertShows(page.locator("#signedInAs"), "audrey (auditor)");

  await assertShows(page.locator("#readOnlyNote"), /^Your account is an auditor's: it reads these settings and exports the list, and changes nothing here\./);
  await page.locator('#approvedList[data-ready="true"]').waitFor();
  for (const hidden of ["#btnSave", "#btnReset", "#btnAddEntry", "#lnkImport", "#btnRemoveEntries"]) {
    assert.equal(await page.locator(hidden).isVisible(), false, `${hidden} is not offered`);
  }
  assert.equal(await page.locator("#txtAdminEmail").isDisabled(), true, "the fields show, and take no change");
  assert.equal(await page.locator("#btnExport").isVisible(), true, "the export is there");
  const [download] = await Promise.all([page.waitForEvent("download"), page.locator("#btnExport").click()]);
  assert.equal(download.suggestedFilename(), "ApprovedURLList.txt");

  await loadingNewPage(page, () => page.getByRole("link", { name: "History" }).click());
  await assertShows(page.locator("#signedInAs"), "audrey (auditor)");
  assert.equal(await page.getByRole("button", { name: "Restore the state before this change" }).count(), 0);
});

consoleTest("a session ended from the account page in another browser is signed out there", async ({ page, server, context }) => {
  const other = await openContext(context.browser());
  try {
    await signIn(other.page, server);
    await page.goto(new URL("account", server.baseUrl).href);
    const rows = page.locator("#accountSessions tbody tr");
    assert.equal(await rows.count(), 2, "this browser and the other");
    await loadingNewPage(page, () => rows.getByRole("button", { name: "End" }).click());
    await assertShows(page.getByRole("status").first(), "The session is ended.");
    assert.equal(await rows.count(), 1);

    await other.page.goto(new URL(SETTINGS_PATH, server.baseUrl).href);
    assert.equal(new URL(other.page.url()).pathname, "/login", "the other browser is signed out");
    assert.deepEqual(other.problems, []);
  } finally {
    await other.context.close();
  }
});

consoleTest("a token made on Your account is shown once, opens the API, and opens nothing once revoked", async ({ page, server }) => {
  await page.goto(new URL("account", server.baseUrl).href);
  await page.locator("#txtTokenName").fill("dashboard");
  await page.locator("#selTokenScope").selectOption("read");
  await page.locator("#txtTokenPassword").fill(ADMIN_PASSWORD);
  await loadingNewPage(page, () => page.getByRole("button", { name: "Make a token" }).click());
  const secret = await page.locator("#newToken").textContent();
  const policies = () => fetch(new URL("api/v1/policies", server.baseUrl), { headers: { Authorization: `Bearer ${secret}` } });
  assert.equal((await policies()).status, 200, "the API takes it");
  const row = page.locator("#accountTokens tbody tr");
  assert.equal(await row.count(), 1);
  assert.match(await row.textContent(), /^dashboard\s*read/);

  await page.goto(new URL("account", server.baseUrl).href);
  assert.equal(await page.locator("#newToken").count(), 0, "shown only once");
  await loadingNewPage(page, () => row.getByRole("button", { name: "Revoke" }).click());
  await assertShows(page.getByRole("status").first(), 'The token "dashboard" is revoked.');
  assert.equal((await policies()).status, 401, "revoked, it opens nothing");
});
