// Pieces shared by the management store's own source files; not part of the
// host API.
#pragma once

#include "mgmt_store.h"
#include "store_json.h"
#include "utc_time.h"

#include <memory>
#include <string>
#include <vector>

namespace tessera::host::detail {

constexpr VARTYPE kBstrArray = static_cast<VARTYPE>(VT_ARRAY | VT_BSTR);

// VT_I4, VT_UI4, VT_INT and VT_UINT: the kinds that hold a 32-bit integer.
bool IsIntegerKind(VARTYPE kind);

// The JSON readers over documents whose key order is kept, so that properties
// stay in the order of the file (the public ones take std::map-ordered json).
Declarations DeclarationsFromJson(const nlohmann::ordered_json& json);
PropertyBag PropertiesFromJson(const nlohmann::ordered_json& json, const std::string& place);
std::vector<StoredInstance> InstancesFromJson(const nlohmann::ordered_json& json);

// The current store, or null when none was set.
std::shared_ptr<StoreBackend> CurrentStoreOrNull();

}  // namespace tessera::host::detail
