// The settings page's approved list, served apart from the page.
#include "list_apart.h"
#include "list_options.h"
#include "routes.h"

#include "os_string.h"
#include "text_util.h"

#include <charconv>
#include <chrono>
#include <iterator>
#include <string_view>

namespace tessera::console {
namespace {

constexpr std::chrono::minutes kKeptFor{1};
constexpr std::size_t kMaxParcels = 8;

// Appends `text` (UTF-8) as a JSON string. Written here rather than through
// the JSON library, which would make a node of each of a million entries.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (byte < 0x20) {
            out += "\\u00";
            host::AppendHexDigits(out, byte, host::HexDigitCase::kLower);
        } else {
            out += ch;
        }
    }
    out += '"';
}

}  // namespace

bool WantsListApart(const std::string& cookie_header) {
    return CookieValue(cookie_header, kListApartCookieName) == "apart";
}

std::optional<std::string> TakeListApart(std::string& page, const std::string& url) {
    const std::optional<ListBlock> block = FindListBlock<char>(page);
    if (!block) return std::nullopt;
    const std::string_view markup(page.data() + block->begin, block->end - block->begin);
    std::string entries = "[";
    entries.reserve(markup.size() / 2);  // each option's value stands twice in its markup
    ForEachListEntry<char>(markup, [&entries](const std::string& entry) {
        if (entries.size() > 1) entries += ',';
        AppendJsonString(entries, entry);
    });
    entries += ']';
    const std::string escaped_url = host::EscapedMarkup<char>(url);
    page.replace(block->begin, block->end - block->begin,
                 "<div id=\"approvedListSource\" data-list=\"" + escaped_url +
                     "\" hidden></div>\n<noscript><input type=\"hidden\" name=\"" + OS::ToUtf8(kListApartField) +
                     "\" value=\"1\"><p class=\"message error\">This page was opened while scripts were on, so "
                     "its approved list was left out and it cannot be saved. Open the settings page again to see "
                     "the list.</p></noscript>");
    return entries;
}

std::string ListApartPath(const std::string& token, std::int64_t list_version) {
    return kListApartPrefix + token + "." + std::to_string(list_version);
}

std::optional<ListApartName> ParsedListApartPath(const std::string& path) {
    const std::string_view prefix = kListApartPrefix;
    if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string_view name = std::string_view(path).substr(prefix.size());
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const std::string_view digits = name.substr(dot + 1);
    std::int64_t version = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), version);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || version < 0) {
        return std::nullopt;
    }
    return ListApartName{std::string(name.substr(0, dot)), version};
}

void ListParcels::Keep(const std::string& session_id, const std::string& token, std::string entries,
                       SteadyClock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    RemoveStale(now);
    while (parcels_.size() >= kMaxParcels) {
        auto oldest = parcels_.begin();
        for (auto parcel = parcels_.begin(); parcel != parcels_.end(); ++parcel) {
            if (parcel->second.kept_at < oldest->second.kept_at) oldest = parcel;
        }
        parcels_.erase(oldest);
    }
    parcels_[token] = Parcel{session_id, std::move(entries), now};
}

std::optional<std::string> ListParcels::Take(const std::string& session_id, const std::string& token,
                                             SteadyClock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    RemoveStale(now);
    const auto found = parcels_.find(token);
    if (found == parcels_.end() || found->second.session_id != session_id) return std::nullopt;
    std::string entries = std::move(found->second.entries);
    parcels_.erase(found);
    return entries;
}

void ListParcels::RemoveStale(SteadyClock::time_point now) {
    for (auto parcel = parcels_.begin(); parcel != parcels_.end();) {
        parcel = now - parcel->second.kept_at > kKeptFor ? parcels_.erase(parcel) : std::next(parcel);
    }
}

}  // namespace tessera::console
