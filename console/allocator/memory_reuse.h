// The console's memory allocator and how it keeps freed memory.
#pragma once

namespace tessera::console {

// Keeps freed memory in the process for the next request instead of handing it
// back to the system: a page of a million entries is built in about 1.2 GB of
// buffers, and faulting them in again page by page costs more than building
// the page. Call once at program start.
void KeepFreedMemoryForReuse();

}  // namespace tessera::console
