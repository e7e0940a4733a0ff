// Pieces shared by the management store's own source files; not part of the
// host API.
#pragma once

#include "mgmt_store.h"

#include <memory>

namespace tessera::host::detail {

// The current store, or null when none was set.
std::shared_ptr<StoreBackend> CurrentStoreOrNull();

}  // namespace tessera::host::detail
