// The settings form's byte writer against the URL standard's own encoder.
import assert from "node:assert/strict";
import { test } from "node:test";

import { encodedFormBlob } from "../../web/static/js/form_encoding.js";

const entries = [
  "plain.example",
  "*.star-_.example",
  "with space",
  "a+b&c=d%e",
  "b\u00fccher.example",
  "\u4e2d\u6587.example",
  "\U0001F600.example",
  "lone \uD800 high",
  "lone \uDC00 low",
  "~!'()",
  "",
];

test("each entry is written as URLSearchParams writes it, after the given fields", async () => {
  const blob = encodedFormBlob("FormAction=save", "list", entries);
  const expected = "FormAction=save&" + new URLSearchParams(entries.map((entry) => ["list", entry])).toString();
  assert.equal(await blob.text(), expected);
});

test("an entry longer than a chunk starts a chunk of its own", async () => {
  const long = "\u00e9".repeat(300000); // 1.8 MB encoded, more than a chunk
  const blob = encodedFormBlob("", "list", ["a", long, "b"]);
  assert.equal(await blob.text(), new URLSearchParams([["list", "a"], ["list", long], ["list", "b"]]).toString().replace(/^/, "&"));
});
