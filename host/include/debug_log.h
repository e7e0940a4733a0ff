// The host's debug log: one record per line in <data dir>/debug.log,
//   <ISO-8601 UTC time> <level> <source>:<line> <message>
// Control characters in the message are escaped so a record is always one line;
// a message over 64 KiB is cut with a visible marker. Each record is written to
// the file at once (no buffering), from any thread.
#pragma once

#include "host_api.h"

#if defined(_WIN32)
// The handle type as <windows.h> declares it, without its OLE types, which
// the host's own variants stand in for.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
#else
using HINSTANCE = void*;
#endif

namespace DBG {

// Wide format with the console's wide printf conventions (%s takes a wide string).
TESSERA_HOST_API void DebugLogEx(HINSTANCE module, unsigned int level, const char* source, int line,
                                 const wchar_t* format, ...);
// Narrow format (%s takes a narrow string); the message is taken as UTF-8.
TESSERA_HOST_API void DebugLogEx(HINSTANCE module, unsigned int level, const char* source, int line, const char* format,
                                 ...);

}  // namespace DBG
