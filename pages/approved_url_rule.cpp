// The approved URL entry rule.
#include "approved_url_rule.h"

#include "os_string.h"
#include "text_util.h"

#include <cstdint>

namespace tessera::pages {
namespace {

// FNV-1a over the folded characters.
std::uint64_t FoldedHash(std::wstring_view key) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const wchar_t character : key) {
        hash = (hash ^ static_cast<std::uint64_t>(host::FoldAsciiCase(character))) * 1099511628211ULL;
    }
    return hash;
}

bool EqualsFolded(std::wstring_view left, std::wstring_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (host::FoldAsciiCase(left[i]) != host::FoldAsciiCase(right[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && EqualsFolded(text.substr(0, prefix.size()), prefix);
}

// FNV's low bits depend only on the low bits of the characters: fold the high
// ones in before the hash picks a slot.
std::size_t HomeSlot(std::uint64_t hash, std::size_t mask) {
    return static_cast<std::size_t>(hash ^ (hash >> 29)) & mask;
}

std::uint32_t CheckOf(std::uint64_t hash) {
    const auto check = static_cast<std::uint32_t>(hash >> 32);
    return check == 0 ? 1 : check;
}

std::size_t SlotCountFor(std::size_t keys) {
    std::size_t count = 16;
    while (count < 2 * keys) {
        count *= 2;
    }
    return count;
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

ApprovedEntryPass::ApprovedEntryPass(std::size_t expected_entries) : slots_(SlotCountFor(expected_entries)) {
    keys_.reserve(expected_entries);
}

ApprovedEntryPass::Candidate ApprovedEntryPass::Prepare(std::wstring_view entry) const {
    Candidate candidate;
    candidate.parts = ClassifyApprovedEntry(entry);
    const std::wstring_view key = candidate.parts.key;
    candidate.eligible = !key.empty() && OS::UTF16Length(key.data(), key.size()) + candidate.parts.prefix_length <=
                                             kMaxApprovedEntryLength;
    if (candidate.eligible) {
        candidate.hash = FoldedHash(key);
        __builtin_prefetch(&slots_[HomeSlot(candidate.hash, slots_.size() - 1)]);
    }
    return candidate;
}

bool ApprovedEntryPass::Admit(const Candidate& candidate) {
    if (!candidate.eligible) {
        return false;
    }
    if (2 * (keys_.size() + 1) > slots_.size()) {
        Grow();
    }
    const std::uint32_t check = CheckOf(candidate.hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = HomeSlot(candidate.hash, mask);; index = (index + 1) & mask) {
        Slot& slot = slots_[index];
        if (slot.check == 0) {
            slot = Slot{check, static_cast<std::uint32_t>(keys_.size())};
            keys_.push_back(candidate.parts.key);
            return true;
        }
        if (slot.check == check && EqualsFolded(keys_[slot.key], candidate.parts.key)) {
            return false;
        }
    }
}

void ApprovedEntryPass::Grow() {
    std::vector<Slot> grown(slots_.size() * 2);
    const std::size_t mask = grown.size() - 1;
    for (std::uint32_t key = 0; key < keys_.size(); ++key) {
        const std::uint64_t hash = FoldedHash(keys_[key]);
        std::size_t index = HomeSlot(hash, mask);
        while (grown[index].check != 0) {
            index = (index + 1) & mask;
        }
        grown[index] = Slot{CheckOf(hash), key};
    }
    slots_.swap(grown);
}

}  // namespace tessera::pages
