// The approved list's entry rule over any list (one entry a line): it accepts
// exactly what a plain reading of the rule accepts (the first entry of each
// key, compared folding A-Z; no empty key; no canonical form over 255 UTF-16
// code units; a plain entry canonically a star entry), and a list it made
// passes through it again unchanged.
#include "approved_url_rule.h"
#include "os_string.h"
#include "require.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

using tessera::fuzz::Require;
using tessera::pages::ApprovedEntryPass;
using tessera::pages::kMaxApprovedEntryLength;

namespace {

std::vector<std::wstring> Run(const std::vector<std::wstring>& entries) {
    std::vector<std::wstring> accepted;
    ApprovedEntryPass pass(entries.size() % 3 == 0 ? entries.size() : 1);  // a table that must grow, too
    pass.Run(
        entries.size(), [&entries](std::size_t index) { return std::wstring_view(entries[index]); },
        [&accepted](const OS::x_wstring& canonical) { accepted.push_back(canonical); });
    return accepted;
}

std::wstring Folded(std::wstring text) {
    for (wchar_t& ch : text) {
        if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch - L'A' + L'a');
    }
    return text;
}

// The rule read plainly: the canonical forms of the entries it keeps.
std::vector<std::wstring> Expected(const std::vector<std::wstring>& entries) {
    std::vector<std::wstring> kept;
    std::set<std::wstring> seen;
    for (const std::wstring& entry : entries) {
        const std::wstring folded = Folded(entry);
        const bool is_star = folded.compare(0, 2, L"*.") == 0;
        const bool is_www = !is_star && folded.compare(0, 4, L"www.") == 0;
        const std::wstring key = is_star ? entry.substr(2) : entry;
        const std::wstring canonical = is_www ? entry : L"*." + key;
        if (key.empty() || OS::UTF16Length(canonical.data(), canonical.size()) > kMaxApprovedEntryLength) continue;
        if (seen.insert(Folded(key)).second) kept.push_back(canonical);
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = OS::UTF8CharToWChar(reinterpret_cast<const char*>(data), size);
    std::vector<std::wstring> entries;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(L'\n', start);
        entries.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    const std::vector<std::wstring> accepted = Run(entries);
    Require(accepted == Expected(entries), "the rule keeps the first entry of each key, within the length");
    for (const std::wstring& entry : accepted) {
        Require(OS::UTF16Length(entry.data(), entry.size()) <= kMaxApprovedEntryLength, "no entry is too long");
    }
    Require(Run(accepted) == accepted, "the rule applied twice changes nothing");
    return 0;
}
