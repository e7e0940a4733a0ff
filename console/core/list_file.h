// The approved list as a plain text file and the console's reading of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessera::console {

// The entries of a list file (UTF-8, or UTF-16 with a byte order mark): one
// or more per line, cut at ";", white space around each dropped, as the
// import page reads them.
std::vector<std::wstring> EntriesOfListFile(const std::string& bytes);

// `text` with its letters in small case, as entries compare.
std::wstring FoldedCase(std::wstring_view text);

// The host (and path, for an entry that has one) of `url`, a URL with or
// without its scheme, as the list's entries name them: letters in small
// case, without user, port, query or fragment. Empty when it names no host.
std::wstring HostAndPathOf(std::wstring_view url);

// The first of `entries` that approves `url`, or null. An entry "*.NAME"
// approves the host NAME and every host under it; any other entry (they begin
// with "www.") approves its own host alone, and when it has a path, the URLs
// of that host whose path begins with it. Letter case is ignored.
const std::wstring* ApprovingEntry(const std::vector<std::wstring>& entries, std::wstring_view url);

}  // namespace tessera::console
