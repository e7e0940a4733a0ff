// The JSON form of stored objects, used by the provisioning file and the
// console's dump and load:
//   {"<class>": {"<instance>": {"<property>": {"vt": N, "value": ...}}}}
#pragma once

#include "mgmt_store.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tessera::host {

nlohmann::ordered_json ValueToJson(const VARIANT& value);
_variant_t ValueFromJson(const nlohmann::json& json, const std::string& place);
nlohmann::ordered_json PropertiesToJson(const PropertyBag& properties);
// The text the store keeps for an object: PropertiesToJson's document as
// dump() writes it. `is_exact` is false when a text is no Unicode text (a lone
// surrogate, say), so that a load of `text` gives another one back. Throws
// StoreFormatError on a value that cannot be stored.
struct StoredText {
    std::string text;
    bool is_exact = true;
};
StoredText StoredTextOf(const PropertyBag& properties);
PropertyBag PropertiesFromJson(const nlohmann::json& json, const std::string& place);
// Class declarations: {"<class>": {"<property>": VT, "<embedded>": {"<member>": VT, ...}}}.
Declarations DeclarationsFromJson(const nlohmann::json& json);

// Parses a whole document in the JSON format above; throws StoreFormatError.
std::vector<StoredInstance> InstancesFromJson(const nlohmann::json& json);
nlohmann::ordered_json InstancesToJson(const std::vector<StoredInstance>& instances);

namespace detail {

// The readers over documents whose key order is kept, so that properties stay
// in the order of the file (the ones above take std::map-ordered json).
Declarations DeclarationsFromJson(const nlohmann::ordered_json& json);
PropertyBag PropertiesFromJson(const nlohmann::ordered_json& json, const std::string& place);
std::vector<StoredInstance> InstancesFromJson(const nlohmann::ordered_json& json);

}  // namespace detail

}  // namespace tessera::host
