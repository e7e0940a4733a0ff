// The approved list as the plug-in's settings page carries it: a block between
// two markers of the template, one <option value="..."> per entry, the value
// escaped markup without a double quote. The list served apart and the list
// commands read it here, and only here.
#pragma once

#include "text_util.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessera::console {

inline constexpr std::string_view kListBlockBegin = "<!--approved-list-->";
inline constexpr std::string_view kListBlockEnd = "<!--/approved-list-->";

// Where the list block stands in a page: from its begin marker to just past its end marker.
struct ListBlock {
    std::size_t begin = 0;
    std::size_t end = 0;
};

namespace detail {

template <class Char>
std::basic_string<Char> Widened(std::string_view ascii) {
    return std::basic_string<Char>(ascii.begin(), ascii.end());
}

}  // namespace detail

// The list block of `page`, or nullopt when it has none.
template <class Char>
std::optional<ListBlock> FindListBlock(std::basic_string_view<Char> page) {
    static const std::basic_string<Char> begin_marker = detail::Widened<Char>(kListBlockBegin);
    static const std::basic_string<Char> end_marker = detail::Widened<Char>(kListBlockEnd);
    const std::size_t begin = page.find(begin_marker);
    const std::size_t end = begin == page.npos ? begin : page.find(end_marker, begin);
    if (end == page.npos) return std::nullopt;
    return ListBlock{begin, end + end_marker.size()};
}

// Calls `take` with each entry of the list block `block`, unescaped, in page
// order; the string it is handed is reused for the next entry.
template <class Char, class Take>
void ForEachListEntry(std::basic_string_view<Char> block, Take&& take) {
    static const std::basic_string<Char> option_start = detail::Widened<Char>("<option value=\"");
    std::basic_string<Char> entry;
    for (std::size_t at = block.find(option_start); at != block.npos; at = block.find(option_start, at)) {
        const std::size_t start = at + option_start.size();
        const std::size_t quote = block.find(Char('"'), start);
        if (quote == block.npos) break;
        entry.clear();
        host::AppendUnescapedMarkup<Char>(entry, block.substr(start, quote - start));
        take(entry);
        at = quote;
    }
}

}  // namespace tessera::console
