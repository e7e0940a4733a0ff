// The approved URL entry rule: how an entry of the approved list is classified,
// when it is accepted, its canonical form, and when two entries are the same.
// The settings page applies it to the stored list and the save to the
// submitted one, so both always agree.
#pragma once

#include "os_string.h"

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

    // Applies the rule to the entries 0 to count - 1 in order: `entry_at(index)`
    // gives an entry as received, and `accept(canonical)` is called with the
    // canonical form (an OS::x_wstring&, reused for the next entry) of each entry
    // accepted. An entry is refused when its key is empty, its canonical form
    // is longer than kMaxApprovedEntryLength, or its key was seen before.
    template <typename EntryAt, typename Accept>
    void Run(std::size_t count, EntryAt entry_at, Accept accept) {
        // The table place of an entry a few ahead is fetched while this one is
        // checked: a million keys outgrow the cache, and every lookup would
        // otherwise wait for memory in turn.
        Candidate ahead[kLookAhead];
        for (std::size_t index = 0; index < count && index < kLookAhead; ++index) {
            ahead[index] = Prepare(entry_at(index));
        }
        OS::x_wstring canonical;
        for (std::size_t index = 0; index < count; ++index) {
            Candidate& place = ahead[index % kLookAhead];
            const Candidate current = place;
            if (index + kLookAhead < count) {
                place = Prepare(entry_at(index + kLookAhead));
            }
            if (Admit(current)) {
                canonical.clear();
                if (current.parts.prefix_length != 0) {
                    canonical += L"*.";
                }
                canonical.append(current.parts.key);
                accept(canonical);
            }
        }
    }

private:
    // One place of the table of seen keys: 8 bytes, so a million keys take
    // 16 MB rather than three times that, and a lookup touches one slot; a
    // key's text is read only when the high half of its hash matches.
    struct Slot {
        std::uint32_t check = 0;  // the folded hash's high half, never 0; 0 marks a free slot
        std::uint32_t key = 0;    // in keys_
    };
    // An entry classified, with its key's folded hash when the key may be kept.
    struct Candidate {
        ApprovedEntryParts parts{};
        bool eligible = false;  // the key is not empty and the canonical form not too long
        std::uint64_t hash = 0;
    };
    static constexpr std::size_t kLookAhead = 8;

    // Classifies and hashes an entry and fetches its key's home slot.
    Candidate Prepare(std::wstring_view entry) const;
    // False when the candidate is not eligible or an equal key was seen before.
    bool Admit(const Candidate& candidate);
    void Grow();

    std::vector<Slot> slots_;              // open addressing, linear probing; a power of two, at most half full
    std::vector<std::wstring_view> keys_;  // in the order first seen
};

}  // namespace tessera::pages
