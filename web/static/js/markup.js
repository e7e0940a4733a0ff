// The plug-in's markup as the scripts read it: its escapes, and the options
// of the list box.

const ESCAPES = { "&amp;": "&", "&lt;": "<", "&gt;": ">", "&quot;": '"', "&#39;": "'" };

// The escapes the pages write undone, in one pass, so a decoded "&" never
// starts another escape ("&amp;lt;" is "&lt;").
export function unescapeMarkup(text) {
  return text.replace(/&(?:amp|lt|gt|quot|#39);/g, function (escape) {
    return ESCAPES[escape];
  });
}

// The option values of the list box markup that the server writes: only
// `<option value="…">…</option>`, its texts escaped, so a `"` ends a value.
export function optionValues(markup) {
  var values = [];
  var opening = '<option value="';
  var at = markup.indexOf(opening);
  while (at >= 0) {
    var start = at + opening.length;
    var end = markup.indexOf('"', start);
    if (end < 0) {
      break;
    }
    var value = markup.slice(start, end);
    values.push(value.indexOf("&") < 0 ? value : unescapeMarkup(value));
    at = markup.indexOf(opening, end);
  }
  return values;
}
