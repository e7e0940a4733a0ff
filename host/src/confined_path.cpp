// The rule that keeps relative paths inside their folders.
#include "confined_path.h"

#include <algorithm>

namespace tessera::host {
namespace {
constexpr std::size_t kMaxPathCharacters = 1024;

bool IsRefusedCharacter(wchar_t c) { return c < 0x20 || c == 0x7f || c == L':'; }
}  // namespace

std::optional<std::vector<std::wstring>> ConfinedNames(std::wstring_view path) {
    if (path.empty() || path.size() > kMaxPathCharacters || std::any_of(path.begin(), path.end(), IsRefusedCharacter)) {
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(path.find_first_of(L"/\\", start), path.size());
        const std::wstring_view name = path.substr(start, end - start);
        if (name.empty() || name == L"..") return std::nullopt;
        if (name != L".") names.emplace_back(name);
        if (end == path.size()) break;
        start = end + 1;
    }
    if (names.empty()) return std::nullopt;
    return names;
}

std::optional<std::wstring> ConfinedPath(std::wstring_view path) {
    const auto names = ConfinedNames(path);
    if (!names) return std::nullopt;
    std::wstring joined;
    for (const std::wstring& name : *names) joined += (joined.empty() ? L"" : L"/") + name;
    return joined;
}

bool IsStrictlyInside(const std::filesystem::path& root, const std::filesystem::path& path) {
    const auto mismatch = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return mismatch.first == root.end() && mismatch.second != path.end();
}

}  // namespace tessera::host
