// The host's debug log: one record per line in <data dir>/debug.log,
//   <ISO-8601 UTC time> <level> <source>:<line> <message>
// Control characters in the message are escaped so a record is always one line;
// a message over 64 KiB is cut with a visible marker. Each record is written to
// the file at once, from any thread, except on a thread that holds a
// DebugLogBatch and while a BatchedLogWriting lives (rotating_log_file.h).
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

namespace tessera::host {

// While one lives on a thread, that thread's records are kept and written
// together, with one write, when the outermost one ends; sooner when a
// failure (level 4099) is logged or they pass 64 KiB. The console holds one
// around each page it makes: a page's lines cost one system call, not one
// each. Lines of other threads may come between two batches, never inside one.
class TESSERA_HOST_API DebugLogBatch {
public:
    DebugLogBatch();
    ~DebugLogBatch();
    DebugLogBatch(const DebugLogBatch&) = delete;
    DebugLogBatch& operator=(const DebugLogBatch&) = delete;
};

// On a crash (SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT) the crashing thread's
// kept records are written before the signal takes its course, so the lines
// that led to it are not lost. Call once, early; nothing on Windows.
TESSERA_HOST_API void WriteKeptDebugLinesOnCrash();

}  // namespace tessera::host
