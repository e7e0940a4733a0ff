// The time of a record, as the audit log, the debug log and the access log write it.
#pragma once

#include "host_api.h"

#include <string>

namespace tessera::host {

// Appends now as ISO-8601 UTC, to the second ("2026-12-05T14:00:00Z") or to
// the millisecond ("2026-12-05T14:00:00.123Z").
TESSERA_HOST_API void AppendUtcTime(std::string& out, bool with_milliseconds);

namespace detail {

// Now as ISO-8601 UTC with milliseconds: "2026-12-05T14:00:00.123Z".
std::string CurrentUtcTime();

}  // namespace detail
}  // namespace tessera::host
