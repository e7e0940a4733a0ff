// Where the host services find their files, set once by the console and read
// by every request thread.
#include "host_config.h"

#include "current_settings.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <utility>

namespace tessera::host {
namespace {

struct SettingsHolder {
    std::mutex mutex;
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
    const std::lock_guard<std::mutex> lock(holder.mutex);
    return holder.settings;
}

void Configure(const HostSettings& settings) {
    auto applied = std::make_shared<const HostSettings>(settings);
    SettingsHolder& holder = Holder();
    const std::lock_guard<std::mutex> lock(holder.mutex);
    holder.settings = std::move(applied);
}

HostSettings CurrentSettings() {
    return *SharedSettings();
}

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest the allocator allows
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace tessera::host
