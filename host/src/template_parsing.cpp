// Template parsing: the "$$" marks of a template indexed once, so that filling
// a placeholder finds its places without scanning the text again.
#include "html_template.h"
#include "os_string.h"

#include <algorithm>

namespace tessera::host::detail {

namespace {

bool StartsWithMark(std::wstring_view text) { return text.size() >= 2 && text[0] == L'$' && text[1] == L'$'; }

// "$$", a name without "$", "$$".
bool IsWholeToken(std::wstring_view text) {
    return text.size() >= 4 && StartsWithMark(text) && StartsWithMark(text.substr(text.size() - 2)) &&
           text.substr(2, text.size() - 4).find(L'$') == std::wstring_view::npos;
}

}  // namespace

std::shared_ptr<const CHtmlDoc::Template> ParseTemplate(const std::string& bytes) {
    auto parsed = std::make_shared<CHtmlDoc::Template>();
    parsed->text = OS::DecodeTextFile(bytes);
    std::vector<std::size_t>& marks = parsed->marks_by_text;
    const std::wstring_view text(parsed->text);
    for (std::size_t at = text.find(L"$$"); at != std::wstring_view::npos; at = text.find(L"$$", at + 1)) {
        marks.push_back(at);
        const std::size_t token_end = text.find(L"$$", at + 2);
        if (token_end != std::wstring_view::npos) {
            parsed->places_by_token[text.substr(at, token_end + 2 - at)].push_back(at);
        }
    }
    const CHtmlDoc::Template& indexed = *parsed;
    std::sort(marks.begin(), marks.end(), [&indexed](std::size_t left, std::size_t right) {
        const auto key = [&indexed](std::size_t mark) {
            return indexed.MarkKey(mark, CHtmlDoc::Template::kMarkKeyLength);
        };
        return key(left) < key(right);
    });
    return parsed;
}

void FindPlaces(const CHtmlDoc::Template& parsed, std::wstring_view name, std::vector<std::size_t>& places) {
    places.clear();
    const std::wstring_view text(parsed.text);
    const std::vector<std::size_t>& marks = parsed.marks_by_text;
    if (IsWholeToken(name)) {
        const auto found = parsed.places_by_token.find(name);
        if (found != parsed.places_by_token.end()) places = found->second;
        return;
    }
    if (!StartsWithMark(name)) {
        for (std::size_t at = text.find(name); at != std::wstring_view::npos; at = text.find(name, at + 1)) {
            places.push_back(at);
        }
    } else if (name.size() <= CHtmlDoc::Template::kMarkKeyLength) {
        const auto key = [&parsed, &name](std::size_t mark) { return parsed.MarkKey(mark, name.size()); };
        const auto first =
            std::lower_bound(marks.begin(), marks.end(), name,
                             [&key](std::size_t mark, std::wstring_view wanted) { return key(mark) < wanted; });
        const auto last =
            std::upper_bound(first, marks.end(), name,
                             [&key](std::wstring_view wanted, std::size_t mark) { return wanted < key(mark); });
        places.assign(first, last);
    } else {
        for (const std::size_t mark : marks) {
            if (text.compare(mark, name.size(), name) == 0) places.push_back(mark);
        }
    }
    std::sort(places.begin(), places.end());
}

}  // namespace tessera::host::detail
