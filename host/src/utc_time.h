// The time of a record, as the audit log and the debug log write it.
#pragma once

#include <string>

namespace tessera::host::detail {

// Now as ISO-8601 UTC with milliseconds: "2026-12-05T14:00:00.123Z".
std::string CurrentUtcTime();

}  // namespace tessera::host::detail
