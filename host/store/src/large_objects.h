// Where work over all of an object's values runs.
#pragma once

#include "mgmt_store.h"

#include <cstddef>
#include <future>

namespace tessera::host {

// A pass over an object with lists of at least this many entries runs on a
// thread of its own, beside the caller's other work; a small object's runs on
// the caller's thread when its result is asked for, where starting a thread
// would cost more than it saves.
inline constexpr std::size_t kEntriesWorthAThread = 10000;

inline std::launch LaunchFor(const PropertyBag& properties) {
    std::size_t entries = 0;  // those of embedded objects' lists are not counted
    for (const auto& [name, value] : properties.Items()) {
        if (value.vt == kBstrArray) entries += SafeArrayGetCount(value.parray);
    }
    return entries >= kEntriesWorthAThread ? std::launch::async : std::launch::deferred;
}

}  // namespace tessera::host
