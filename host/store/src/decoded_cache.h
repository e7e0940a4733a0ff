// The decoded form of stored objects, shared by a store's connections.
#pragma once

#include "console_store.h"
#include "mgmt_store.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace tessera::host {

// The last decoded form of each stored object, with the text it was decoded
// from, shared by all connections: a connection that reads a row it has not
// seen in this snapshot compares the text (35 MB for a list of a million
// entries) instead of parsing it, which holds whoever changed the row. Where
// objects carry revisions, the revision names the text instead. Entries
// are kept before their transaction commits, so only the text or a snapshot
// seen before says that an entry is what the store holds. Copies of a decoded
// object share its arrays, so handing one out copies no list.
class ConsoleStore::DecodedCache {
public:
    // The generation of the entry decoded from `text`, or 0.
    std::uint64_t Find(const std::string& place, std::string_view text, PropertyBag& out) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(place);
        if (found == entries_.end() || found->second.text != text) {
            return 0;
        }
        out = found->second.properties;
        return found->second.generation;
    }

    // False when the entry of that generation was replaced since.
    bool FindGeneration(const std::string& place, std::uint64_t generation, PropertyBag& out) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(place);
        if (found == entries_.end() || found->second.generation != generation) {
            return false;
        }
        out = found->second.properties;
        return true;
    }

    // True when the entry is of that revision of the object (never 0).
    bool FindRevision(const std::string& place, std::int64_t revision, PropertyBag& out) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(place);
        if (found == entries_.end() || revision == 0 || found->second.revision != revision) {
            return false;
        }
        out = found->second.properties;
        return true;
    }

    // `revision` 0 where the engine keeps none; the text is then what names it.
    std::uint64_t Keep(const std::string& place, std::string text, PropertyBag properties, std::int64_t revision = 0) {
        Entry entry{std::move(text), std::move(properties), 0, revision};
        const std::lock_guard lock(mutex_);
        entry.generation = ++last_generation_;
        entries_[place] = std::move(entry);
        return last_generation_;
    }

private:
    struct Entry {
        std::string text;
        PropertyBag properties;
        std::uint64_t generation;
        std::int64_t revision;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    std::uint64_t last_generation_ = 0;
};

}  // namespace tessera::host
