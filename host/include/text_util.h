// Small text helpers shared by the host, the pages and the console: header-only.
#pragma once

#include "os_string.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tessera::host {

// Folds A-Z to a-z and leaves every other character alone, as the C locale does.
template <typename Char>
constexpr Char FoldAsciiCase(Char ch) {
    return (ch >= Char('A') && ch <= Char('Z')) ? static_cast<Char>(ch - Char('A') + Char('a')) : ch;
}

template <typename Char>
std::basic_string<Char> FoldAsciiCase(std::basic_string<Char> text) {
    for (Char& ch : text) {
        ch = FoldAsciiCase(ch);
    }
    return text;
}

// True when the texts differ at most in letters A-Z against a-z.
constexpr bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (FoldAsciiCase(left[index]) != FoldAsciiCase(right[index])) return false;
    }
    return true;
}

// `text` without the spaces and TABs at its ends.
constexpr std::string_view TrimmedBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// Calls on_piece(start, length) for every piece of `text` between any of the
// `delimiters` characters, empty pieces included; a null or empty delimiter set
// gives the whole text as one piece.
template <typename OnPiece>
void ForEachPiece(const std::wstring& text, const wchar_t* delimiters, OnPiece&& on_piece) {
    const std::wstring delimiter_set = delimiters != nullptr ? delimiters : L"";
    std::size_t start = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (delimiter_set.find(text[index]) != std::wstring::npos) {
            on_piece(start, index - start);
            start = index + 1;
        }
    }
    on_piece(start, text.size() - start);
}

// `text` made safe to stand in markup, as element content or as a quoted
// attribute value: & < > " and ' become character references.
template <typename Char>
std::basic_string<Char> EscapedMarkup(std::basic_string_view<Char> text) {
    std::basic_string<Char> escaped;
    escaped.reserve(text.size() + text.size() / 4);
    for (const Char ch : text) {
        const char* reference = ch == Char('&')    ? "&amp;"
                                : ch == Char('<')  ? "&lt;"
                                : ch == Char('>')  ? "&gt;"
                                : ch == Char('"')  ? "&quot;"
                                : ch == Char('\'') ? "&#39;"
                                                   : nullptr;
        if (reference == nullptr) {
            escaped += ch;
        } else {
            for (; *reference != '\0'; ++reference) escaped += static_cast<Char>(*reference);
        }
    }
    return escaped;
}

// Appends `text` to `out` with its character references decoded: &amp; &lt;
// &gt; &quot; and numeric ones (decimal or x-hexadecimal), as the pages
// write them; anything else stands as it is. Narrow text is UTF-8.
template <typename Char>
void AppendUnescapedMarkup(std::basic_string<Char>& out, std::basic_string_view<Char> text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t end = text[at] == Char('&') ? text.find(Char(';'), at) : std::basic_string_view<Char>::npos;
        const std::size_t name_length = end == std::basic_string_view<Char>::npos ? 0 : end - at - 1;
        const std::basic_string_view<Char> name = text.substr(at + 1, name_length);
        const auto is = [&name](const char* word) {
            std::size_t index = 0;
            for (; word[index] != '\0'; ++index) {
                if (index >= name.size() || name[index] != Char(word[index])) return false;
            }
            return index == name.size();
        };
        char32_t decoded = is("amp") ? U'&' : is("lt") ? U'<' : is("gt") ? U'>' : is("quot") ? U'"' : 0;
        if (name.size() > 1 && name.size() < 9 && name[0] == Char('#')) {
            const bool is_hex = name[1] == Char('x');
            char32_t number = 0;
            std::size_t digits = 0;
            for (std::size_t index = is_hex ? 2 : 1; index < name.size(); ++index, ++digits) {
                const char32_t c = static_cast<char32_t>(name[index]);
                const int digit = c >= U'0' && c <= U'9'             ? int(c - U'0')
                                  : is_hex && c >= U'a' && c <= U'f' ? int(c - U'a' + 10)
                                  : is_hex && c >= U'A' && c <= U'F' ? int(c - U'A' + 10)
                                                                     : -1;
                if (digit < 0) {
                    digits = 0;
                    break;
                }
                number = number * (is_hex ? 16 : 10) + static_cast<char32_t>(digit);
            }
            if (digits > 0 && number > 0 && number <= 0x10FFFF && (number < 0xD800 || number > 0xDFFF)) {
                decoded = number;
            }
        }
        if (decoded == 0) {
            out += text[at];
            continue;
        }
        OS::AppendScalar(out, decoded);
        at = end;
    }
}

enum class HexDigitCase { kLower, kUpper };

// Appends the two hexadecimal digits of `byte`.
template <typename Char>
void AppendHexDigits(std::basic_string<Char>& out, unsigned char byte, HexDigitCase letter_case) {
    const char* digits = letter_case == HexDigitCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    out += static_cast<Char>(digits[byte >> 4]);
    out += static_cast<Char>(digits[byte & 0x0F]);
}

// The C0 controls, DEL and the C1 controls: characters that would break a
// log line or drive a terminal when shown as they are.
constexpr bool IsControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0); }

// Appends control character `c` as an escape that reads back: "\n", "\r",
// "\t", else "\x" and two lower-case hexadecimal digits.
template <typename Char>
void AppendControlEscape(std::basic_string<Char>& out, unsigned char c) {
    out += static_cast<Char>('\\');
    if (c == '\n' || c == '\r' || c == '\t') {
        out += static_cast<Char>(c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        return;
    }
    out += static_cast<Char>('x');
    AppendHexDigits(out, c, HexDigitCase::kLower);
}

// Appends `byte` as a percent escape, "%XX" with upper-case digits as RFC 3986 advises.
template <typename Char>
void AppendPercentEscape(std::basic_string<Char>& out, unsigned char byte) {
    out += Char('%');
    AppendHexDigits(out, byte, HexDigitCase::kUpper);
}

// Appends the bytes of `utf8`, each byte for which `is_kept` is false as a
// percent escape.
template <typename Char, typename IsKept>
void AppendPercentEncoded(std::basic_string<Char>& out, std::string_view utf8, IsKept&& is_kept) {
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        if (is_kept(byte)) {
            out += static_cast<Char>(byte);
        } else {
            AppendPercentEscape(out, byte);
        }
    }
}

}  // namespace tessera::host
