// The approved URL entry rule: how an entry of the approved list is classified,
// when it is accepted, its canonical form, and when two entries are the same.
// The settings page applies it to the stored list and the save to the
// submitted one, so both always agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::pages {

enum class ApprovedEntryKind {
    kStar,   // begins with "*." (letter case ignored); the key is the rest
    kWww,    // otherwise begins with "www." (letter case ignored); the key is the whole entry
    kPlain,  // anything else; the key is the whole entry
};

struct ApprovedEntryParts {
    ApprovedEntryKind kind;
    std::wstring_view key;
    std::size_t prefix_length;  // what the canonical form adds before the key: 2 ("*.") or 0
};

// Classifies an entry as received: nothing is trimmed or changed.
ApprovedEntryParts ClassifyApprovedEntry(std::wstring_view entry);

// Longest canonical form, in UTF-16 code units (a character beyond U+FFFF counts two).
inline constexpr std::size_t kMaxApprovedEntryLength = 255;

// One pass of the rule over a list, in list order. The first entry with a given
// key wins; keys are compared folding only A-Z to a-z, as _wcsicmp does in the
// C locale. The pass remembers keys by reference: every entry given to it must
// stay alive and unchanged until the pass ends.
class ApprovedEntryPass {
public:
    // `expected_entries` sizes the set of seen keys up front; any count works.
    explicit ApprovedEntryPass(std::size_t expected_entries = 0);

    // Appends the canonical form of `entry` to `out` and returns true when the
    // entry is accepted; returns false, leaving `out` alone, when its key is
    // empty, its canonical form is longer than kMaxApprovedEntryLength, or its
    // key was seen before in this pass.
    bool AppendCanonical(std::wstring_view entry, std::wstring& out);

private:
    // One place of the table of seen keys: 8 bytes, so a million keys take
    // 16 MB rather than three times that, and a lookup touches one slot; a
    // key's text is read only when the high half of its hash matches.
    struct Slot {
        std::uint32_t check = 0;  // the folded hash's high half, never 0; 0 marks a free slot
        std::uint32_t key = 0;    // in keys_
    };
    // False when an equal key was seen before.
    bool Remember(std::wstring_view key);
    void Grow();

    std::vector<Slot> slots_;              // open addressing, linear probing; a power of two, at most half full
    std::vector<std::wstring_view> keys_;  // in the order first seen
};

}  // namespace tessera::pages
