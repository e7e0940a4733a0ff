// The list file's reading and the console's matching of URLs against the list.
#include "list_file.h"

#include "os_string.h"

#include <cwctype>

namespace tessera::console {
namespace {

bool EndsWith(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

std::wstring FoldedCase(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return folded;
}

std::vector<std::wstring> EntriesOfListFile(const std::string& bytes) {
    const std::wstring text = OS::DecodeTextFile(bytes);
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(L";\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring_view piece = std::wstring_view(text).substr(start, end - start);
        const std::size_t first = piece.find_first_not_of(L" \t");
        if (first != std::wstring_view::npos) {
            entries.emplace_back(piece.substr(first, piece.find_last_not_of(L" \t") - first + 1));
        }
        start = end + 1;
    }
    return entries;
}

std::wstring HostAndPathOf(std::wstring_view url) {
    const std::size_t scheme = url.find(L"://");
    if (scheme != std::wstring_view::npos && url.find_first_of(L"/?#") > scheme) url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of(L"?#"));
    const std::size_t path = url.find(L'/');
    std::wstring_view authority = url.substr(0, path);
    if (const std::size_t user = authority.rfind(L'@'); user != std::wstring_view::npos) {
        authority.remove_prefix(user + 1);
    }
    if (const std::size_t port = authority.rfind(L':'); port != std::wstring_view::npos) {
        authority = authority.substr(0, port);
    }
    while (!authority.empty() && authority.back() == L'.')
        authority.remove_suffix(1);  // "example.com." is the same host
    if (authority.empty()) return {};
    std::wstring shown = FoldedCase(authority);
    if (path != std::wstring_view::npos && path + 1 < url.size()) shown += url.substr(path);
    return shown;
}

const std::wstring* ApprovingEntry(const std::vector<std::wstring>& entries, std::wstring_view url) {
    const std::wstring address = HostAndPathOf(url);
    if (address.empty()) return nullptr;
    const std::wstring host = address.substr(0, address.find(L'/'));
    for (const std::wstring& entry : entries) {
        const std::wstring folded = FoldedCase(entry);
        if (folded.rfind(L"*.", 0) == 0) {
            const std::wstring_view domain = std::wstring_view(folded).substr(2);
            if (host == domain || EndsWith(host, L"." + std::wstring(domain))) return &entry;
        } else if (folded.find(L'/') == std::wstring::npos ? host == folded
                                                           : FoldedCase(address).rfind(folded, 0) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace tessera::console
