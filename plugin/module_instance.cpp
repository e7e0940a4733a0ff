// Finds the handle of the module this code is linked into, without help from
// the module entry point.
#include "page_log.h"

#if defined(_WIN32)
// The linker's symbol at the start of this module's image: its handle.
extern "C" char __ImageBase;
#else
#  include <dlfcn.h>
#endif

namespace tessera::pages {

HINSTANCE ThisModule() {
#if defined(_WIN32)
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
#else
    static const HINSTANCE module = [] {
        Dl_info info{};
        return dladdr(reinterpret_cast<const void*>(&ThisModule), &info) != 0 ? info.dli_fbase : nullptr;
    }();
    return module;
#endif
}

}  // namespace tessera::pages
