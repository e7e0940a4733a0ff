// Shared by the browser tests: a console of its own for each test (fresh data
// folder, free loopback port), Debian's Chromium through playwright-core, the
// sign-in, and a watch on every page for script errors and refused content.
import assert from "node:assert/strict";
import { copyFile, mkdir } from "node:fs/promises";
import path from "node:path";

import { after, test } from "node:test";

import { chromium } from "playwright-core";

import {
  ADMIN_PASSWORD,
  ADMIN_USER,
  REPO_ROOT,
  SETTINGS_PATH,
  START_TIMEOUT_MS,
  startConsole,
} from "./console_process.mjs";

export { ADMIN_PASSWORD, ADMIN_USER, CONSOLE_PROGRAM, REPO_ROOT, SETTINGS_PATH, startConsole } from "./console_process.mjs";

export const ARTIFACTS_DIR = path.join(REPO_ROOT, "test-artifacts");
const CHROMIUM = process.env.TESSERA_CHROMIUM || "/usr/bin/chromium";
// Without the background-networking switches Chromium reaches out to the
// network at start, and its connections are refused on a closed network.
const CHROMIUM_ARGS = [
  "--no-sandbox",
  "--disable-gpu",
  "--disable-quic",
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
];
// Default for waits and clicks: the pages are local and small.
export const ACTION_TIMEOUT_MS = 15_000;


export function launchBrowser() {
  return chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_ARGS, timeout: START_TIMEOUT_MS });
}

// A new browser profile (no cookies, no storage) whose every page, popups
// included, is watched: `problems` collects script errors, console errors
// (a refused script, style or form shows up there as a Content Security
// Policy violation) and Content Security Policy reports of any level.
export async function openContext(browser, options = {}) {
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1280, height: 900 }, ...options });
  context.setDefaultTimeout(ACTION_TIMEOUT_MS);
  context.setDefaultNavigationTimeout(ACTION_TIMEOUT_MS);
  const problems = [];
  context.on("page", (page) => {
    page.on("pageerror", (error) => problems.push(`${page.url()}: uncaught ${error.message}`));
    page.on("console", (message) => {
      if (message.type() === "error" || /Content Security Policy/i.test(message.text())) {
        problems.push(`${page.url()}: console ${message.type()}: ${message.text()}`);
      }
    });
  });
  const page = await context.newPage();
  return { context, page, problems };
}

// Runs `body` against a console of its own, in a new browser profile, signed
// in unless `signedIn` is false. Afterwards the pages must have raised no
// error, and the console, always stopped, must exit with 0.
export async function withConsole(browser, body, { signedIn = true, contextOptions = {} } = {}) {
  const server = await startConsole();
  let failure = null;
  let context = null;
  try {
    const session = await openContext(browser, contextOptions);
    context = session.context;
    if (signedIn) await signIn(session.page, server);
    await body({ server, ...session });
    assert.deepEqual(session.problems, [], "no script errors and no refused content on the pages");
  } catch (error) {
    failure = error;
  }
  await context?.close().catch(() => {});
  let exitCode = null;
  try {
    exitCode = await server.stop();
  } catch (error) {
    failure ??= error;
  }
  if (failure) throw failure;
  assert.equal(exitCode, 0, `the console exits with 0 on SIGTERM; its output:\n${server.output()}`);
}

// One browser for the test file's tests, launched by the first of them and
// closed after the last (registered here, so a benchmark that imports this
// module runs no test hook).
let sharedBrowser;

// A test of `body` through withConsole in the file's browser; `options` are
// withConsole's, and `timeout` in milliseconds.
export function consoleTest(name, body, { timeout = 60_000, ...options } = {}) {
  if (sharedBrowser === undefined) {
    sharedBrowser = null;
    after(() => sharedBrowser?.close());
  }
  test(name, { timeout }, async () => {
    sharedBrowser ??= await launchBrowser();
    await withConsole(sharedBrowser, body, options);
  });
}

// Clicks (or otherwise triggers, through `action`) something that loads a new
// document in `page`, and waits until that document has loaded.
export async function loadingNewPage(page, action) {
  await Promise.all([page.waitForNavigation({ waitUntil: "load" }), action()]);
}

export async function fillSignIn(page, userName, password) {
  await page.getByLabel("User name").fill(userName);
  await page.getByLabel("Password").fill(password);
  await loadingNewPage(page, () => page.getByRole("button", { name: "Sign in", exact: true }).click());
}

// Opens the console's address and signs in as the administrator; ends on the
// settings page.
export async function signIn(page, server) {
  await page.goto(server.baseUrl);
  await fillSignIn(page, ADMIN_USER, ADMIN_PASSWORD);
  assert.equal(new URL(page.url()).pathname, "/" + SETTINGS_PATH, "signed in, the settings page opens");
}

// A full-page screenshot in test-artifacts/, copied to `extraCopy` as well
// when given. The viewport grows to the page's height for it, so that the
// sticky action bar sits at the end of the form as a reader would see it.
export async function saveScreenshot(page, name, extraCopy) {
  await mkdir(ARTIFACTS_DIR, { recursive: true });
  const file = path.join(ARTIFACTS_DIR, name);
  const viewport = page.viewportSize();
  const height = await page.evaluate(() => document.documentElement.scrollHeight);
  await page.setViewportSize({ width: viewport.width, height: Math.max(height, viewport.height) });
  try {
    await page.screenshot({ path: file, fullPage: true, animations: "disabled", caret: "hide" });
  } finally {
    await page.setViewportSize(viewport);
  }
  if (extraCopy) {
    await mkdir(path.dirname(extraCopy), { recursive: true });
    await copyFile(file, extraCopy);
  }
  return file;
}

// Waits until `locator` shows `expected` (a text, or a pattern the text
// matches) as the page's own scripts get there, then checks it, so that a
// step never reads a page before it is ready; a failure names what it showed.
export async function assertShows(locator, expected, message) {
  const pattern = expected instanceof RegExp ? { source: expected.source, flags: expected.flags } : null;
  const element = await locator.elementHandle();
  await locator
    .page()
    .waitForFunction(
      ({ element, text, pattern }) =>
        pattern ? new RegExp(pattern.source, pattern.flags).test(element.textContent) : element.textContent === text,
      { element, text: pattern ? null : expected, pattern },
    )
    .catch(() => {});
  const shown = await locator.textContent();
  if (pattern) assert.match(shown, expected, message);
  else assert.equal(shown, expected, message);
}
