// Where the host services find their files, set once by the console and read
// by every request thread.
#include "host_config.h"

#include "current_settings.h"

#include <mutex>
#include <shared_mutex>

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

}  // namespace tessera::host
