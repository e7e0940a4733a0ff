// The approved URL entry rule.
#include "approved_url_rule.h"

#include "os_string.h"

#include <cstdint>

namespace tessera::pages {
namespace {

constexpr wchar_t FoldAsciiLetter(wchar_t character) {
    return character >= L'A' && character <= L'Z' ? static_cast<wchar_t>(character - L'A' + L'a') : character;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (FoldAsciiLetter(text[i]) != FoldAsciiLetter(prefix[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

ApprovedEntryParts ClassifyApprovedEntry(std::wstring_view entry) {
    // The star test comes first: "*.www.example.com" is a star entry whose key begins with "www.".
    if (StartsWithNoCase(entry, L"*.")) {
        return {ApprovedEntryKind::kStar, entry.substr(2), 2};
    }
    if (StartsWithNoCase(entry, L"www.")) {
        return {ApprovedEntryKind::kWww, entry, 0};
    }
    return {ApprovedEntryKind::kPlain, entry, 2};
}

bool ApprovedEntryPass::AppendCanonical(std::wstring_view entry, std::wstring& out) {
    const ApprovedEntryParts parts = ClassifyApprovedEntry(entry);
    if (parts.key.empty()) {
        return false;
    }
    if (OS::UTF16Length(parts.key.data(), parts.key.size()) + parts.prefix_length > kMaxApprovedEntryLength) {
        return false;
    }
    if (!seen_keys_.insert(parts.key).second) {
        return false;
    }
    if (parts.prefix_length != 0) {
        out += L"*.";
    }
    out.append(parts.key);
    return true;
}

std::size_t ApprovedEntryPass::FoldedHash::operator()(std::wstring_view key) const noexcept {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a over the folded characters
    for (const wchar_t character : key) {
        hash = (hash ^ static_cast<std::uint64_t>(FoldAsciiLetter(character))) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

bool ApprovedEntryPass::FoldedEqual::operator()(std::wstring_view left, std::wstring_view right) const noexcept {
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (FoldAsciiLetter(left[i]) != FoldAsciiLetter(right[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace tessera::pages
