// The console's memory allocator and how it keeps freed memory.
#include "memory_reuse.h"

#if defined(TESSERA_WITH_TCMALLOC)
#  include <gperftools/malloc_extension.h>
#elif defined(__GLIBC__)
#  include <malloc.h>
#endif

namespace tessera::console {

void KeepFreedMemoryForReuse() {
#if defined(TESSERA_WITH_TCMALLOC)
    // tcmalloc: each thread keeps a cache of small blocks, so request threads
    // rarely meet at a lock; the page heap keeps large spans for reuse.
    MallocExtension::instance()->SetMemoryReleaseRate(0);
#elif defined(__GLIBC__)
    // Every block from the heap, none mapped on its own, and up to 2000 MiB of
    // freed heap kept. One arena for all threads: a worker thread's own arena
    // maps every block over 64 MiB on its own whatever M_MMAP_MAX says.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 2000 << 20);
#endif
}

}  // namespace tessera::console
