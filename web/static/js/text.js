// Texts as the console's pages write and compare them; no document needed.

// The server compares names and list entries folding only A-Z; every other
// character must match exactly, so toLowerCase() would fold too much.
export function foldAsciiCase(text) {
  return text.replace(/[A-Z]+/g, function (letters) {
    return letters.toLowerCase();
  });
}

// Counts are written with thousands separators: "1,250,000".
export function number(count) {
  return count.toLocaleString("en-US");
}

export function plural(count, one, many) {
  return number(count) + " " + (count === 1 ? one : many);
}

// An entry quoted for a message, cut short (at a character, not inside a
// surrogate pair) so that a long one cannot flood the page.
export function quote(text) {
  var characters = Array.from(text);
  var shown = characters.length > 60 ? characters.slice(0, 57).join("") + "\u2026" : text;
  return "\u201c" + shown + "\u201d";
}
