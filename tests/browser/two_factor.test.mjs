// Two-factor sign-in as an administrator meets it: an authenticator app set up
// from the account page, its codes computed here from the key the page shows.
import assert from "node:assert/strict";
import { createHmac } from "node:crypto";

import { ADMIN_PASSWORD, ADMIN_USER, assertShows, consoleTest, fillSignIn, loadingNewPage, SETTINGS_PATH } from "./console.mjs";

// RFC 6238 as an authenticator app computes it: HMAC-SHA-1 of the 30-second step, six digits.
function appCode(base32Secret, seconds) {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let bits = "";
  for (const c of base32Secret.replace(/=+$/, "")) bits += alphabet.indexOf(c).toString(2).padStart(5, "0");
  const key = Buffer.from(bits.match(/.{8}/g).map((byte) => parseInt(byte, 2)));
  const step = Buffer.alloc(8);
  step.writeBigUInt64BE(BigInt(Math.floor(seconds / 30)));
  const mac = createHmac("sha1", key).update(step).digest();
  const offset = mac[19] & 0x0f;
  return String((mac.readUInt32BE(offset) & 0x7fffffff) % 1_000_000).padStart(6, "0");
}

const pathOf = (page) => new URL(page.url()).pathname;

async function signOut(page) {
  await loadingNewPage(page, () => page.getByRole("button", { name: "Sign out" }).click());
}

async function giveCode(page, code) {
  await page.getByLabel("Code").fill(code);
  await loadingNewPage(page, () => page.getByRole("button", { name: "Sign in", exact: true }).click());
}

consoleTest("an authenticator app set up from the account page signs in with its codes, each taken once, and a recovery code once", async ({ page, server }) => {
  await page.goto(new URL("account", server.baseUrl).href);
  const secret = await page.locator("#authenticatorSecret").textContent();
  assert.match(secret, /^[A-Z2-7]+=*$/);
  assert.equal(await page.locator("svg.qr-code").count(), 1, "the QR code is shown");
  const enrolment = appCode(secret, Date.now() / 1000);
  await page.locator("#txtAddPassword").fill(ADMIN_PASSWORD);
  await page.locator("#txtConfirmCode").fill(enrolment);
  await loadingNewPage(page, () => page.getByRole("button", { name: "Set up the authenticator app" }).click());
  await assertShows(page.getByRole("status").first(), "The authenticator app is set up.");
  const recoveryCodes = await page.locator("#recoveryCodes li").allTextContents();
  assert.equal(recoveryCodes.length, 10);

  await signOut(page);
  await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
  assert.equal(pathOf(page), "/login/code", "the password alone leads to the code");
  await giveCode(page, enrolment);
  await assertShows(page.getByRole("alert"), "The code is not correct, or was used already.");
  await giveCode(page, recoveryCodes[0]);
  assert.equal(pathOf(page), "/" + SETTINGS_PATH, "signed in with a recovery code");

  await signOut(page);
  await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
  await giveCode(page, recoveryCodes[0]);
  assert.equal(pathOf(page), "/login/code", "a recovery code is used up");
  await giveCode(page, appCode(secret, Date.now() / 1000 + 30));
  assert.equal(pathOf(page), "/" + SETTINGS_PATH, "signed in with the app's next code");
});
