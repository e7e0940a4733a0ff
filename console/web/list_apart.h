// The settings page's approved list, served apart from the page to a browser
// whose script shows it. Chromium takes a list of a million entries as the
// plug-in's option markup (70 MB, most of it parsed as HTML) in about 3.6 s;
// as plain lines that the script fetches (23 MB), in about a second. A browser
// without scripts never asks for it and gets the list box in the page.
#pragma once

#include "session_cookie.h"
#include "sessions.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tessera::console {

// Set by the pages' script: a page's list may go apart.
inline constexpr char kListApartCookieName[] = "tessera_list";
// Posted only by a browser without scripts from a page whose list went apart:
// its form holds no entry, so its save would empty the list.
inline constexpr wchar_t kListApartField[] = L"tesseraListApartFromThisPage";

// True when the Cookie header asks for lists apart.
bool WantsListApart(const std::string& cookie_header);

// Cuts the list box out of `page` (between the template's markers) and puts in
// its place an empty source naming `url`, and, for a browser without scripts,
// a notice and the field above. Returns the entries as the options held them,
// each ended by a line feed; nothing when the page has no list box.
std::optional<std::string> TakeListApart(std::string& page, const std::string& url);

// Where the script fetches a list taken apart: a token of the parcel, and
// the version of the list, by which any console of the store can make it
// again when the parcel is another console's.
struct ListApartName {
    std::string token;
    std::int64_t list_version = 0;
};
std::string ListApartPath(const std::string& token, std::int64_t list_version);
std::optional<ListApartName> ParsedListApartPath(const std::string& path);

// Lists taken apart, each kept for the session that asked until it fetches it
// once, for a minute at most; the fewest that pages opened at once need.
class ListParcels {
public:
    void Keep(const std::string& session_id, const std::string& token, std::string entries,
              SteadyClock::time_point now);
    std::optional<std::string> Take(const std::string& session_id, const std::string& token,
                                    SteadyClock::time_point now);

private:
    struct Parcel {
        std::string session_id;
        std::string entries;
        SteadyClock::time_point kept_at;
    };
    void RemoveStale(SteadyClock::time_point now);

    std::mutex mutex_;
    std::map<std::string, Parcel> parcels_;  // by token
};

}  // namespace tessera::console
