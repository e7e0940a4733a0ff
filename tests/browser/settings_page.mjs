// What the browser tests read from and do on the settings page.
import assert from "node:assert/strict";

import { loadingNewPage, SETTINGS_PATH } from "./console.mjs";

export const DEFAULT_ENTRIES = ["*.example.com", "*.example.net", "www.example.org"];
export const POLICY_TAB = { URL_FILTER: "Instant messages", URL_FILTER_FILE: "File transfers" };

// Opens the settings page of `policy` afresh, as typing its address would.
export async function openSettings(page, server, policy = "URL_FILTER") {
  const url = new URL(SETTINGS_PATH, server.baseUrl);
  url.searchParams.set("txtPolicyInstanceId", policy);
  const response = await page.goto(url.href);
  assert.equal(response.status(), 200, `settings page of ${policy}`);
  await assertShowsPolicy(page, policy);
}

export async function assertShowsPolicy(page, policy) {
  assert.equal(await page.locator("#txtPolicyInstanceId").inputValue(), policy, "policy edited by the form");
  const currentTab = page.locator('.tabs a[aria-current="page"]');
  assert.equal(await currentTab.count(), 1, "one tab is marked current");
  assert.equal(await currentTab.getAttribute("data-policy"), policy, "the current tab");
}

// Every stored control of the form by id: check boxes and radio buttons as
// checked or not, text fields and text areas by value.
export function formState(page) {
  return page.locator("#settingsForm").evaluate((form) => {
    const state = {};
    for (const control of form.querySelectorAll("input[name], textarea[name]")) {
      if (control.type === "hidden") continue;
      state[control.id] = control.type === "checkbox" || control.type === "radio" ? control.checked : control.value;
    }
    return state;
  });
}

// The approved list as shown, for lists short enough to be in view whole.
export async function listedEntries(page) {
  const list = page.locator('#approvedList[data-ready="true"]');
  await list.waitFor();
  const rows = await list
    .locator(".entry-row")
    .evaluateAll((elements) =>
      elements.map((row) => [row.querySelector(".entry-text").textContent, Number(row.getAttribute("aria-setsize"))]),
    );
  for (const [, setSize] of rows) assert.equal(setSize, rows.length, "every entry is in view");
  return rows.map(([text]) => text);
}

// The row of the list box that shows `entry`, by its exact text.
export async function entryRow(page, entry) {
  const position = await page
    .locator("#approvedList .entry-row .entry-text")
    .evaluateAll((texts, wanted) => texts.findIndex((text) => text.textContent === wanted), entry);
  assert.ok(position >= 0, `${entry} is in view`);
  return page.locator("#approvedList .entry-row").nth(position);
}

export async function entryMessage(page) {
  const message = page.locator("#entryMessage");
  return { text: await message.textContent(), kind: await message.getAttribute("class") };
}

// Types `text` into the "Add a site" box and adds it with the button, or with
// the Enter key when `withEnter`.
export async function addEntry(page, text, { withEnter = false } = {}) {
  await page.locator("#txtNewEntry").fill(text);
  if (withEnter) {
    await page.locator("#txtNewEntry").press("Enter");
  } else {
    await page.locator("#btnAddEntry").click();
  }
  return entryMessage(page);
}

export async function removeEntries(page, entries) {
  // A plain click selects one entry alone; Ctrl+click adds to the selection.
  for (const [index, entry] of entries.entries()) {
    await (await entryRow(page, entry)).click({ modifiers: index === 0 ? [] : ["ControlOrMeta"] });
  }
  await page.locator("#btnRemoveEntries").click();
}

// Runs `action`, which makes the page's script post the form, and waits for
// the page that answers to be shown and ready in place of this one.
export async function answeredInPlace(page, action) {
  await page.evaluate(() => {
    document.documentElement.dataset.replaced = "pending";
  });
  await action();
  await page.waitForFunction(
    () =>
      document.documentElement.dataset.replaced === undefined &&
      document.readyState === "complete" &&
      document.querySelector('#approvedList[data-ready="true"]') !== null,
  );
}

// Saves the form with the Save button, or with the Enter key in the text
// field `withEnterIn`, and checks that the answer is the settings page again.
export async function save(page, { withEnterIn = null } = {}) {
  const policy = await page.locator("#txtPolicyInstanceId").inputValue();
  await answeredInPlace(page, () =>
    withEnterIn ? page.locator(withEnterIn).press("Enter") : page.locator("#btnSave").click(),
  );
  assert.equal(new URL(page.url()).pathname, "/" + SETTINGS_PATH);
  await assertShowsPolicy(page, policy);
}

export async function switchPolicy(page, policy) {
  await loadingNewPage(page, () => page.getByRole("link", { name: POLICY_TAB[policy], exact: true }).click());
  assert.equal(new URL(page.url()).searchParams.get("txtPolicyInstanceId"), policy);
  await assertShowsPolicy(page, policy);
}
