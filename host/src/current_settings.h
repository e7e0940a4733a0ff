// The host settings as one shared object per Configure call, for the services
// that cache what they read from the configured folders.
#pragma once

#include "host_config.h"

#include <memory>

namespace tessera::host {

// Never null; a new object after every Configure, so comparing pointers tells
// whether the settings were applied again since a cache was filled.
std::shared_ptr<const HostSettings> SharedSettings();

}  // namespace tessera::host
