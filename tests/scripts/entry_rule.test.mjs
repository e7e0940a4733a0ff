// The pages' entry rule against the cases the plug-in's save is tested with.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";

import { admit, problemText, splitEntries } from "../../web/static/js/entry_rule.js";

const { cases } = JSON.parse(readFileSync(new URL("../data/entry_rule_cases.json", import.meta.url), "utf8"));

for (const { name, entries, kept } of cases) {
  test(`the rule keeps what the save keeps: ${name}`, () => {
    const seen = new Map();
    const results = entries.map((entry) => admit(entry, seen));
    assert.deepEqual(
      results.filter((result) => result.problem === null).map((result) => result.canonical),
      kept
    );
    for (const refused of results.filter((result) => result.problem !== null)) {
      assert.notEqual(problemText(refused), "", `a refusal of ${refused.canonical} says why`);
    }
  });
}

test("a refusal names the entry it repeats, in its listed spelling", () => {
  const seen = new Map();
  admit("WWW.example.ORG", seen);
  admit("example.com", seen);
  assert.match(problemText(admit("www.Example.org", seen)), /already listed as “WWW\.example\.ORG”/);
  assert.match(problemText(admit("Example.COM", seen)), /already listed as “\*\.example\.com”/);
  assert.match(problemText(admit("*.", seen)), /names no site/);
});

test("a typed text is cut at semicolons, its pieces trimmed and empty ones dropped", () => {
  assert.deepEqual(splitEntries(" a.com ;;\tb.com;  ;www.c.com\n"), ["a.com", "b.com", "www.c.com"]);
});
