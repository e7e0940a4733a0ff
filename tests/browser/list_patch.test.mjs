// A small change of a large list is saved through the API: the page sends a
// PATCH of the change, not the form with every entry, and stays as it is.
import assert from "node:assert/strict";

import { assertShows, consoleTest } from "./console.mjs";
import { createToken } from "../api/api_client.mjs";
import { ADMIN_USER } from "./console_process.mjs";
import { addEntry, entryRow, openSettings } from "./settings_page.mjs";

const ENTRIES = 20_000;

consoleTest("removing one entry of a large list and adding another saves a PATCH of the two", async ({ page, server }) => {
  const token = await createToken(server, ADMIN_USER, "seed", "write");
  const api = (method, body) =>
    fetch(new URL("api/v1/approved-list", server.baseUrl), {
      method,
      headers: { Authorization: `Bearer ${token}`, "Content-Type": "application/json", "If-Match": "*", Accept: "text/plain" },
      body: body && JSON.stringify(body),
    });
  const entries = Array.from({ length: ENTRIES }, (_, index) => `*.site${String(index).padStart(5, "0")}.example.com`);
  assert.equal((await api("PUT", { entries })).status, 200);

  const requests = [];
  page.on("request", (request) => {
    if (request.method() !== "GET") requests.push(`${request.method()} ${new URL(request.url()).pathname}`);
  });
  await openSettings(page, server);
  await page.locator('#approvedList[data-ready="true"]').waitFor();
  for (const [removed, added] of [
    ["*.site00000.example.com", "first-added.example"],
    ["*.site00001.example.com", "second-added.example"],
  ]) {
    await page.locator("#txtFilter").fill(removed);
    await (await entryRow(page, removed)).click();
    await page.locator("#btnRemoveEntries").click();
    await page.locator("#txtFilter").fill("");
    await addEntry(page, added);
    await page.locator("#btnSave").click();
    await assertShows(page.locator("#actionText"), /^Saved: 1 entry added, 1 removed\.$/);
  }
  assert.deepEqual(requests, ["PATCH /api/v1/approved-list", "PATCH /api/v1/approved-list"], "the second save goes with the new version");

  const stored = (await (await api("GET")).text()).split(/\r?\n/).filter(Boolean);
  assert.equal(stored.length, ENTRIES);
  assert.ok(stored.includes("*.first-added.example") && stored.includes("*.second-added.example"));
  assert.ok(!stored.includes("*.site00000.example.com") && !stored.includes("*.site00001.example.com"));
});
