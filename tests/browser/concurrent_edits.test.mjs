// Two administrators editing the same policy: the second Save is stopped and
// told what the first changed, and its edits, put on top of the settings as
// they are now, store both changes.
import assert from "node:assert/strict";

import { assertShows, consoleTest, openContext, signIn } from "./console.mjs";
import { addEntry, answeredInPlace, formState, listedEntries, openSettings, save } from "./settings_page.mjs";

consoleTest("a Save that would overwrite another's change is stopped, and the edits go on top of it", async ({ page, server, context, problems }) => {
  const other = await openContext(context.browser());
  try {
    await signIn(other.page, server);
    await openSettings(page, server);
    await openSettings(other.page, server);
    await listedEntries(page);
    await listedEntries(other.page);

    // The first administrator lowers the security level and saves.
    await other.page.locator("#rdoSecurityLevelLow").check();
    await save(other.page);

    // The second, on the page served before that, changes a subject and adds a site.
    await page.locator("#txtNotifyAdminSubject").fill("Both changes stay");
    await addEntry(page, "second-admin.example");
    await answeredInPlace(page, () => page.locator("#btnSave").click());
    const notice = page.locator("main > .message.error[role=alert]");
    await assertShows(notice, /^Not saved: these settings changed since you opened this page \(admin at \d\d:\d\d UTC: .*Security level Medium -> Low/);
    // The browser logs the stopped post's status, and nothing else.
    assert.deepEqual(
      problems.splice(0).map((problem) => /status of (\d+)/.exec(problem)?.[1]),
      ["412"],
    );
    assert.equal((await formState(page)).rdoSecurityLevelLow, true, "the page shows the first change");
    assert.notEqual((await formState(page)).txtNotifyAdminSubject, "Both changes stay", "and not yet the second");

    await page.locator("#btnApplyEdits").click();
    await assertShows(page.locator("#entryMessage"), "Your edits are on top of the settings as they are now: check them and save.");
    await save(page);

    await openSettings(page, server);
    const stored = await formState(page);
    assert.equal(stored.rdoSecurityLevelLow, true, "the first administrator's change");
    assert.equal(stored.txtNotifyAdminSubject, "Both changes stay", "and the second's");
    assert.ok((await listedEntries(page)).includes("*.second-admin.example"), "with the added site");
  } finally {
    await other.context.close();
  }
});
