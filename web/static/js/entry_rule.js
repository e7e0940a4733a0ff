// The approved URL entry rule as the server applies it when it saves and shows
// the list, so the pages can tell at once what the server will keep. The server
// applies it again on save and stays the judge.
import { foldAsciiCase, quote } from "./text.js";

const STAR = "*.";
// Counted in UTF-16 code units, as String.length counts them.
export const MAX_CANONICAL_LENGTH = 255;

// Key and canonical form of one entry, taken exactly as given. The star test
// comes first, so "*.www.example.com" is a star entry with key "www.example.com".
function parse(entry) {
  if (entry.slice(0, STAR.length) === STAR) {
    return { key: entry.slice(STAR.length), canonical: entry };
  }
  if (foldAsciiCase(entry.slice(0, 4)) === "www.") {
    return { key: entry, canonical: entry };
  }
  return { key: entry, canonical: STAR + entry };
}

// One step of a pass over a list. `seen` is a Map that starts empty for each
// pass; it maps the A-Z-folded keys accepted so far to their canonical forms,
// and an accepted entry is added to it: the first entry with a key wins.
// Returns { canonical, problem, existing }: problem is null when accepted, or
// "empty", "too-long" or "duplicate" (existing: the canonical form that won).
export function admit(entry, seen) {
  var parsed = parse(entry);
  var result = { canonical: parsed.canonical, problem: null, existing: "" };
  var folded = foldAsciiCase(parsed.key);
  if (parsed.key === "") {
    result.problem = "empty";
  } else if (parsed.canonical.length > MAX_CANONICAL_LENGTH) {
    result.problem = "too-long";
  } else if (seen.has(folded)) {
    result.problem = "duplicate";
    result.existing = seen.get(folded);
  } else {
    seen.set(folded, parsed.canonical);
  }
  return result;
}

// Why admit() refused an entry, for the user.
export function problemText(result) {
  switch (result.problem) {
    case "empty":
      return "names no site";
    case "too-long":
      return "is too long: " + result.canonical.length + " characters as listed, at most " + MAX_CANONICAL_LENGTH;
    case "duplicate":
      return "is already listed as " + quote(result.existing);
    default:
      return "";
  }
}

// The entries of a typed or imported text. The server cuts list values at ";"
// as well; white space around an entry is never meant, so it is dropped here.
export function splitEntries(text) {
  return text
    .split(";")
    .map(function (piece) {
      return piece.trim();
    })
    .filter(function (piece) {
      return piece !== "";
    });
}

export function keyOf(entry) {
  return parse(entry).key;
}

var SCHEME = /^[A-Za-z][A-Za-z0-9+.-]*:\/\//;
var ADDRESS_RANGE = /^\d{1,3}(\.\d{1,3}){3}(\/\d{1,2}|-\d{1,3}(\.\d{1,3}){0,3})$/;
var NEEDS_ASCII_FORM = /[^\x00-\x7f]|xn--/i;

// What makes an entry unlikely to be meant, though the server keeps it as
// the rule above says: warnings only, the server decides what is stored.
export function advise(entry) {
  var site = parse(entry).key;
  var advice = [];
  if (SCHEME.test(site)) {
    advice.push("starts with a scheme, which a site is written without");
  } else if (site.indexOf("/") >= 0 && !ADDRESS_RANGE.test(site)) {
    advice.push("holds a path after the site");
  }
  if (/\s/.test(entry)) {
    advice.push("holds a space");
  }
  if (entry.indexOf("#") >= 0) {
    advice.push("holds a \u201c#\u201d");
  }
  if (ADDRESS_RANGE.test(site)) {
    advice.push("is an address range, not a site");
  }
  if (site.slice(0, STAR.length) === STAR) {
    advice.push("has \u201c*.\u201d twice");
  }
  return advice;
}

// The site of an entry in its ASCII (punycode) form, A-Z folded, when it
// has letters beyond ASCII or is punycode already; "" for any other, so
// that "bücher.example" and "xn--bcher-kva.example" meet and others cost nothing.
export function asciiSite(entry) {
  var key = parse(entry).key;
  if (!NEEDS_ASCII_FORM.test(key)) {
    return "";
  }
  try {
    return new URL("http://" + key.split("/")[0]).hostname;
  } catch (notAHost) {
    return "";
  }
}
