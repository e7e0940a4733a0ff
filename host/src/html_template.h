// A template as parsed once: its text and where its placeholders stand, and
// the way to one from the path a page asks for. Shared by the document and the
// template files' cache; not part of the host API.
#pragma once

#include "html_doc.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct CHtmlDoc::Template {
    std::wstring text;
    // Every position where "$$" starts, overlapping ones included, ordered by
    // the text that follows (its first kMarkKeyLength characters): the places
    // of a placeholder that begins with "$$" are found by binary search.
    std::vector<std::size_t> marks_by_text;
    static constexpr std::size_t kMarkKeyLength = 256;
    // The places of each token, a mark up to and with the next "$$", in
    // template order: a placeholder "$$NAME$$" whose NAME has no "$" stands
    // exactly where it is the token, so its places are looked up at once.
    std::unordered_map<std::wstring_view, std::vector<std::size_t>> places_by_token;

    std::wstring_view MarkKey(std::size_t mark, std::size_t length) const {
        return std::wstring_view(text).substr(mark, std::min(length, kMarkKeyLength));
    }
};

namespace tessera::host::detail {

// The template's text decoded as a text file, with its marks indexed.
std::shared_ptr<const CHtmlDoc::Template> ParseTemplate(const std::string& bytes);

// Every place where `name` stands in the template, overlapping ones included,
// in template order.
void FindPlaces(const CHtmlDoc::Template& parsed, std::wstring_view name, std::vector<std::size_t>& places);

// The template at `template_path` under `web_root`, parsed; null when it is
// missing, lies outside the web root, is no regular file or is larger than
// `max_bytes`. Resolved and read at most once a second per path, and parsed
// again only when its file changed.
std::shared_ptr<const CHtmlDoc::Template> LoadTemplate(const std::filesystem::path& web_root,
                                                       const std::wstring& template_path, std::size_t max_bytes);

}  // namespace tessera::host::detail
