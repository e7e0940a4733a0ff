// Where the host services find their files, set once by the console and read
// by every request thread.
#include "host_config.h"

#include "current_settings.h"

#include <mutex>
#include <shared_mutex>

#if defined(__GLIBC__)
#  include <malloc.h>
#endif
#include <utility>

namespace tessera::host {
namespace {

struct SettingsHolder {
    std::shared_mutex mutex;  // every thread reads at every record and page; the console writes once
    std::shared_ptr<const HostSettings> settings = std::make_shared<const HostSettings>();
};

// Never destroyed: a debug line may still be written while statics are torn down.
SettingsHolder& Holder() {
    static auto* holder = new SettingsHolder();
    return *holder;
}

}  // namespace

std::shared_ptr<const HostSettings> SharedSettings() {
    SettingsHolder& holder = Holder();
    const std::shared_lock<std::shared_mutex> lock(holder.mutex);
    return holder.settings;
}

void Configure(const HostSettings& settings) {
    auto applied = std::make_shared<const HostSettings>(settings);
    SettingsHolder& holder = Holder();
    const std::lock_guard<std::shared_mutex> lock(holder.mutex);
    holder.settings = std::move(applied);
}

HostSettings CurrentSettings() { return *SharedSettings(); }

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // Every block from the heap, none mapped on its own, and up to 2000 MiB of
    // freed heap kept: the buffers of a page of a million entries (about 1.2 GB
    // in all) are reused by the next request instead of being handed back and
    // faulted in again page by page, which costs more than building the page.
    // One arena for all threads: a worker thread's own arena maps every block
    // over 64 MiB on its own whatever M_MMAP_MAX says.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 2000 << 20);
#endif
}

}  // namespace tessera::host
