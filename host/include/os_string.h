// The host's string library: wide and narrow strings, UTF conversions, the
// tokenisers and the C runtime's case-insensitive comparisons where the platform
// lacks them. Wide text is UTF-16 in wchar_t on Windows and UTF-32 elsewhere.
#pragma once

#include "host_api.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if !defined(_WIN32)
// Compare without regard to case, folding only A-Z/a-z as the C locale does
// ("É" and "é" stay different). Null pointers compare as the empty text.
TESSERA_HOST_API int _wcsicmp(const wchar_t* left, const wchar_t* right);
TESSERA_HOST_API int _wcsnicmp(const wchar_t* left, const wchar_t* right, std::size_t count);
#endif

namespace OS {

class TESSERA_HOST_API x_wstring : public std::wstring {
public:
    x_wstring() = default;
    x_wstring(const wchar_t* text);  // null gives the empty text
    x_wstring(const wchar_t* text, std::size_t length);
    x_wstring(const std::wstring& text);
    x_wstring(std::wstring&& text) noexcept;

    operator const wchar_t*() const { return c_str(); }

    bool IsEmpty() const { return empty(); }

    // 0 when equal without regard to case (A-Z only), else the sign of the difference.
    int CompareNoCase(const wchar_t* other) const;

    // printf-style, with the wide conventions of the console's home platform:
    // %s takes a wide string (null prints "(null)"), %hs and %S a narrow one,
    // %ls a wide one; %d %i %u %x %X %c %p %% and flags/width/precision as in C.
    // Replaces the content; returns the new length.
    int Format(const wchar_t* format, ...);

    // Replaces every occurrence of `find` as the text stood before the call;
    // inserted text is never rescanned. False when nothing was found or `find` is empty.
    bool FindAndReplaceAll(const wchar_t* find, const wchar_t* replacement);

    // Removes trailing white space: space, TAB, LF, VT, FF and CR.
    x_wstring& TrimRight();
};

class TESSERA_HOST_API x_astring : public std::string {
public:
    x_astring() = default;
    x_astring(const char* text);  // null gives the empty text
    x_astring(const std::string& text);
    x_astring(std::string&& text) noexcept;

    operator const char*() const { return c_str(); }
};

// UTF-8 of `text` (null gives the empty text). Lone surrogates and values that
// are no Unicode scalar become U+FFFD; no byte order mark is written. When
// `utf8_length` is not null it receives the length in bytes.
TESSERA_HOST_API x_astring WCharToUTF8Char(const wchar_t* text, std::size_t* utf8_length);
TESSERA_HOST_API x_astring WCharToUTF8Char(const wchar_t* text, std::size_t length, std::size_t* utf8_length);
// The same UTF-8, appended to `utf8`: a caller with a buffer of its own allocates nothing.
TESSERA_HOST_API void AppendUtf8(std::string& utf8, const wchar_t* text, std::size_t length);

// True when every unit of `text` belongs to a Unicode scalar, so that its
// UTF-8 converts back to the same text.
TESSERA_HOST_API bool IsUnicodeText(const wchar_t* text, std::size_t length);

// Wide text of UTF-8 bytes; every invalid or truncated sequence becomes U+FFFD.
// A byte order mark is kept as U+FEFF (callers that read files drop it).
TESSERA_HOST_API x_wstring UTF8CharToWChar(const char* bytes, std::size_t length);

// The two conversions above for a whole string, as the console and the store use them.
inline x_astring ToUtf8(const std::wstring& text) { return WCharToUTF8Char(text.c_str(), text.size(), nullptr); }
inline x_wstring FromUtf8(const std::string& bytes) { return UTF8CharToWChar(bytes.data(), bytes.size()); }

// Wide text of UTF-16 bytes in the given byte order; lone surrogates and a final
// odd byte become U+FFFD.
TESSERA_HOST_API x_wstring UTF16BytesToWChar(const unsigned char* bytes, std::size_t length, bool big_endian);

// Wide text of an uploaded or read text file: UTF-16 LE or BE when it starts with
// that byte order mark, otherwise UTF-8 (a UTF-8 byte order mark is dropped).
TESSERA_HOST_API x_wstring DecodeTextFile(const std::string& bytes);

// Number of UTF-16 code units of `text`: a character beyond U+FFFF counts two on
// every platform.
TESSERA_HOST_API std::size_t UTF16Length(const wchar_t* text, std::size_t length);

// Orders two texts by their UTF-16 code units, as wcscmp does on Windows: a
// character beyond U+FFFF sorts by its surrogate pair, before U+E000-U+FFFF.
TESSERA_HOST_API int UTF16Compare(const std::wstring& left, const std::wstring& right);

// A text's first sixteen UTF-16 code units, four to a number, the first in the
// highest bits, 0 past its end. Texts whose keys differ order as their keys
// do; equal keys leave the order to UTF16Compare. Kept beside its text, it
// spares a sort reading most of the texts it compares.
using UTF16SortKey = std::array<std::uint64_t, 4>;
TESSERA_HOST_API UTF16SortKey UTF16SortKeyOf(const std::wstring& text);

// Appends one Unicode scalar as UTF-8, or as wide text (a surrogate pair where
// wchar_t is UTF-16).
TESSERA_HOST_API void AppendScalar(std::string& utf8, char32_t scalar);
TESSERA_HOST_API void AppendScalar(std::wstring& text, char32_t scalar);

}  // namespace OS

namespace NS_StringUtils {
// `folder`, a backslash, then `relative_path` (no backslash is added when the
// folder is empty or already ends with \ or /).
TESSERA_HOST_API OS::x_wstring concatPath(const wchar_t* folder, const wchar_t* relative_path);
}  // namespace NS_StringUtils

// Appends to `tokens` the pieces of `text` between any of the `delimiters`
// characters, in order. Empty pieces are not kept: "a;;b;" gives "a", "b".
// Returns the number of pieces appended.
TESSERA_HOST_API int SplitStringToTokensW(std::vector<OS::x_wstring>& tokens, const OS::x_wstring& text,
                                          const wchar_t* delimiters);

// Appends the tokens to `out`, with `separator` between each two. Returns the
// number of tokens joined.
TESSERA_HOST_API int CombineTokensToStringW(const std::vector<OS::x_wstring>& tokens, OS::x_wstring& out,
                                            const wchar_t* separator);
