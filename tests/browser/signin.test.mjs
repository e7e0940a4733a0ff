// Signing in and out, as an administrator meets it in the browser.
import assert from "node:assert/strict";
import path from "node:path";

import {
  ADMIN_PASSWORD,
  ADMIN_USER,
  assertShows,
  consoleTest,
  fillSignIn,
  loadingNewPage,
  REPO_ROOT,
  saveScreenshot,
  SETTINGS_PATH,
} from "./console.mjs";
import { DEFAULT_ENTRIES, listedEntries } from "./settings_page.mjs";

function pathOf(page) {
  return new URL(page.url()).pathname;
}

consoleTest(
  "a wrong password or user name keeps the sign-in page with a message; the right ones open the settings page, and signing out ends the session",
  async ({ page, server }) => {
    await page.goto(server.baseUrl);
    assert.equal(pathOf(page), "/login", "without a session the console asks to sign in");
    assert.equal(await page.getByLabel("User name").inputValue(), "", "no account is named before a try");
    assert.equal(await page.getByRole("alert").count(), 0, "no message before a try");
    await saveScreenshot(page, "signin.png");

    for (const [userName, password] of [
      [ADMIN_USER, ADMIN_PASSWORD + "x"],
      ["operator", ADMIN_PASSWORD],
    ]) {
      await fillSignIn(page, userName, password);
      assert.equal(pathOf(page), "/login", `${userName} with a wrong password or name stays out`);
      await assertShows(page.getByRole("alert"), "The user name or password is not correct.");
      assert.equal(await page.getByLabel("User name").inputValue(), userName, "the name typed is kept");
      assert.equal(await page.getByLabel("Password").inputValue(), "", "the password is not");
    }
    await page.goto(new URL(SETTINGS_PATH, server.baseUrl).href);
    assert.equal(pathOf(page), "/login", "still not signed in");

    await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
    assert.equal(pathOf(page), "/" + SETTINGS_PATH);
    await assertShows(page.getByRole("heading", { level: 1 }), "Web threat protection");
    assert.deepEqual(await listedEntries(page), DEFAULT_ENTRIES, "the settings of a new data folder");
    await saveScreenshot(page, "settings.png", path.join(REPO_ROOT, "docs", "screenshot-settings.png"));
    const background = () => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    const light = await background();
    await page.emulateMedia({ colorScheme: "dark" });
    assert.notEqual(await background(), light, "dark when the system asks for it");
    await saveScreenshot(page, "settings-dark.png", path.join(REPO_ROOT, "docs", "screenshot-settings-dark.png"));
    await page.emulateMedia({ colorScheme: "light" });

    await loadingNewPage(page, () => page.getByRole("button", { name: "Sign out" }).click());
    assert.equal(pathOf(page), "/login", "signed out");
    await page.goto(new URL(SETTINGS_PATH, server.baseUrl).href);
    assert.equal(pathOf(page), "/login", "the session has ended");
  },
  { signedIn: false },
);
