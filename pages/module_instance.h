// The plug-in module's own instance handle, which every debug line carries.
#pragma once

#include "debug_log.h"

namespace tessera::pages {

HINSTANCE ThisModule();

}  // namespace tessera::pages
