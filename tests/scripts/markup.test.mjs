// Reading the plug-in's markup in the pages' scripts.
import assert from "node:assert/strict";
import { test } from "node:test";

import { optionValues, unescapeMarkup } from "../../web/static/js/markup.js";

test("escapes are undone in one pass, so a decoded & starts no other escape", () => {
  assert.equal(unescapeMarkup("&amp;lt; &lt;b&gt; &quot;x&quot; &#39;y&#39; &copy;"), "&lt; <b> \"x\" 'y' &copy;");
});

test("the list box's option values come in page order, unescaped", () => {
  const markup = '<option value="a.com">a.com</option><option value="&quot;b&amp;c&quot;">x</option>';
  assert.deepEqual(optionValues(markup), ["a.com", '"b&c"']);
});
