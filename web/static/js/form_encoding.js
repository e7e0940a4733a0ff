// application/x-www-form-urlencoded, written straight into bytes: the settings
// form with a list of up to a million entries. No document needed.

// The form as the browser would send it, URL-encoded: `fieldsText` (encoded
// already), then one `listField` per entry of `entries`. The entries are
// written straight into bytes, in chunks of a megabyte: a million of them made
// into one string first, then encoded, then turned into bytes, cost a second
// and a half more.
const CHUNK_BYTES = 1 << 20;
const BYTES_PER_UNIT = 9; // the most a UTF-16 unit can take: three UTF-8 bytes, each as %XX

export function encodedFormBlob(fieldsText, listField, entries) {
  var encoder = new TextEncoder();
  var chunks = [encoder.encode(fieldsText)];
  var name = encoder.encode("&" + listField + "=");
  var chunk = new Uint8Array(CHUNK_BYTES);
  var at = 0;
  entries.forEach(function (entry) {
    var most = name.length + BYTES_PER_UNIT * entry.length;
    if (at + most > chunk.length) {
      chunks.push(chunk.subarray(0, at));
      chunk = new Uint8Array(Math.max(CHUNK_BYTES, most));
      at = 0;
    }
    chunk.set(name, at);
    at = writeFormEncoded(entry, chunk, at + name.length);
  });
  chunks.push(chunk.subarray(0, at));
  return new Blob(chunks);
}

// Characters a form sends as they are: ASCII letters and digits, * - . _
var isSentAsIs = new Uint8Array(128);
"*-._0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz".split("").forEach(function (character) {
  isSentAsIs[character.charCodeAt(0)] = 1;
});
var HEX_DIGITS = new TextEncoder().encode("0123456789ABCDEF");

function writePercent(byte, bytes, at) {
  bytes[at] = 0x25; // %
  bytes[at + 1] = HEX_DIGITS[byte >> 4];
  bytes[at + 2] = HEX_DIGITS[byte & 15];
  return at + 3;
}

// Writes `text` as application/x-www-form-urlencoded UTF-8 from `at`;
// returns where it ended. A lone surrogate goes as U+FFFD, as a form sends it.
export function writeFormEncoded(text, bytes, at) {
  for (var i = 0; i < text.length; i++) {
    var code = text.charCodeAt(i);
    if (code < 128 && isSentAsIs[code]) {
      bytes[at++] = code;
      continue;
    }
    if (code === 0x20) {
      bytes[at++] = 0x2b; // +
      continue;
    }
    if (code >= 0xd800 && code <= 0xdbff && i + 1 < text.length) {
      var low = text.charCodeAt(i + 1);
      if (low >= 0xdc00 && low <= 0xdfff) {
        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        i++;
      }
    }
    if (code >= 0xd800 && code <= 0xdfff) {
      code = 0xfffd;
    }
    if (code < 0x80) {
      at = writePercent(code, bytes, at);
    } else if (code < 0x800) {
      at = writePercent(0xc0 | (code >> 6), bytes, at);
      at = writePercent(0x80 | (code & 63), bytes, at);
    } else if (code < 0x10000) {
      at = writePercent(0xe0 | (code >> 12), bytes, at);
      at = writePercent(0x80 | ((code >> 6) & 63), bytes, at);
      at = writePercent(0x80 | (code & 63), bytes, at);
    } else {
      at = writePercent(0xf0 | (code >> 18), bytes, at);
      at = writePercent(0x80 | ((code >> 12) & 63), bytes, at);
      at = writePercent(0x80 | ((code >> 6) & 63), bytes, at);
      at = writePercent(0x80 | (code & 63), bytes, at);
    }
  }
  return at;
}
