// The JSON form of stored objects, used by the provisioning file and the
// console's dump and load:
//   {"<class>": {"<instance>": {"<property>": {"vt": N, "value": ...}}}}
#pragma once

#include "host_api.h"
#include "mgmt_store.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tessera::host {

TESSERA_HOST_API nlohmann::ordered_json ValueToJson(const VARIANT& value);
TESSERA_HOST_API _variant_t ValueFromJson(const nlohmann::json& json, const std::string& place);
TESSERA_HOST_API nlohmann::ordered_json PropertiesToJson(const PropertyBag& properties);
TESSERA_HOST_API PropertyBag PropertiesFromJson(const nlohmann::json& json, const std::string& place);
// Class declarations: {"<class>": {"<property>": VT, "<embedded>": {"<member>": VT, ...}}}.
TESSERA_HOST_API Declarations DeclarationsFromJson(const nlohmann::json& json);

// Parses a whole document in the JSON format above; throws StoreFormatError.
TESSERA_HOST_API std::vector<StoredInstance> InstancesFromJson(const nlohmann::json& json);
TESSERA_HOST_API nlohmann::ordered_json InstancesToJson(const std::vector<StoredInstance>& instances);

}  // namespace tessera::host
