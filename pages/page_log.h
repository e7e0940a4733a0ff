// Debug lines of the plug-in. Each line carries a fixed source line number:
// support tools find a record by its source and line, so the numbers stay put
// when the code around them moves.
#pragma once

#include "debug_log.h"

namespace tessera::pages {

enum LogLevel : unsigned int {
    kLogEnter = 272,
    kLogLeave = 273,
    kLogValue = 258,
    kLogFailure = 4099,
};

inline constexpr char kPageLogSource[] = ".\\web_PageCB_URLFilter";

// The handle of the module the pages are linked into, which every debug line
// carries. The module defines it.
HINSTANCE ThisModule();

// A line of the URL filter pages. Wide formats take wide %s arguments
// (pass c_str()); a narrow format takes narrow ones.
template <typename Format, typename... Args>
void PageLog(LogLevel level, int line, Format format, Args... args) {
    DBG::DebugLogEx(ThisModule(), level, kPageLogSource, line, format, args...);
}

}  // namespace tessera::pages
