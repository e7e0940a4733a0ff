// Small text helpers shared by the host, the pages and the console: header-only.
#pragma once

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

}  // namespace tessera::host
