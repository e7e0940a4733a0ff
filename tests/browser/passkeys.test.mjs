// Passkeys through Chromium's virtual authenticator (the DevTools protocol's
// WebAuthn domain): one registered on the account page, then used after the
// password and alone.
import assert from "node:assert/strict";

import { ADMIN_PASSWORD, ADMIN_USER, assertShows, consoleTest, fillSignIn, loadingNewPage, SETTINGS_PATH } from "./console.mjs";

const pathOf = (page) => new URL(page.url()).pathname;

consoleTest(
  "a passkey added on the account page signs in as the second factor and alone, its user verified",
  async ({ page, server, context }) => {
    // A passkey's relying party is a host name, never an address.
    const origin = new URL(server.baseUrl);
    origin.hostname = "localhost";
    const cdp = await context.newCDPSession(page);
    await cdp.send("WebAuthn.enable");
    await cdp.send("WebAuthn.addVirtualAuthenticator", {
      options: {
        protocol: "ctap2",
        transport: "internal",
        hasResidentKey: true,
        hasUserVerification: true,
        isUserVerified: true,
        automaticPresenceSimulation: true,
      },
    });
    await page.goto(origin.href);
    await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
    await page.goto(new URL("account", origin).href);
    await page.locator('html[data-passkeys-ready="true"]').waitFor();
    await page.locator("#txtPasskeyPassword").fill(ADMIN_PASSWORD);
    await loadingNewPage(page, () => page.locator("#btnAddPasskey").click());
    await assertShows(page.getByRole("status").first(), "The passkey is added.");
    await assertShows(page.locator("#passkeyState"), /^1 passkey is registered;/);

    await loadingNewPage(page, () => page.getByRole("button", { name: "Sign out" }).click());
    await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
    assert.equal(pathOf(page), "/login/code", "the password leads to the second factor");
    await page.locator('html[data-passkeys-ready="true"]').waitFor();
    await loadingNewPage(page, () => page.getByRole("button", { name: "Use a passkey" }).click());
    assert.equal(pathOf(page), "/" + SETTINGS_PATH, "the passkey was the second factor");

    await loadingNewPage(page, () => page.getByRole("button", { name: "Sign out" }).click());
    await page.locator('html[data-passkeys-ready="true"]').waitFor();
    await loadingNewPage(page, () => page.getByRole("button", { name: "Sign in with a passkey" }).click());
    assert.equal(pathOf(page), "/" + SETTINGS_PATH, "the passkey alone signed in");
  },
  { signedIn: false },
);
