// What an administrative action changed in one stored object, in a form that
// costs space in proportion to the change, and the way back: History shows
// these changes and rebuilds earlier states from them.
#pragma once

#include "mgmt_store.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

namespace tessera::host {

// A fingerprint of an object's values that does not depend on the order in
// which they were set: 64-bit FNV-1a over the values sorted by name, stable
// from one build to the next. Written as 16 hexadecimal digits.
std::string ValuesFingerprint(const PropertyBag& properties);

// What changed from `before` to `after`, or null when nothing did:
//   {"class", "instance", "before": fingerprint, "after": fingerprint,
//    "values": [{"name", "before", "after"}],      values as store_json writes them, null when absent;
//                                                  a member of an embedded object is named "Object/Member"
//    "lists": [{"name", "removed": [[index in before, text]...], "added": [[index in after, text]...]}]}
nlohmann::json DescribeChange(const std::wstring& class_name, const std::wstring& instance_name,
                              const PropertyBag& before, const PropertyBag& after);

// Turns `properties`, as they were after `change`, back into what they were
// before it. Throws std::runtime_error when they do not hold what the change
// left (an embedded object or a list it names is missing).
void UndoChange(const nlohmann::json& change, PropertyBag& properties);

// The change without its bulk, for lists of changes: its values as they are,
// and for each list the number of entries added and removed with the first
// `sample` of each.
nlohmann::json SummarizeChange(const nlohmann::json& change, std::size_t sample);

}  // namespace tessera::host
