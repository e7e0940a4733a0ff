// Where the host services find their files. The console configures them once at
// start, before it loads a plug-in.
#pragma once

#include "host_api.h"

#include <cstddef>
#include <filesystem>

namespace tessera::host {

struct HostSettings {
    std::filesystem::path data_dir;      // debug.log (and the console's store.db) live here
    std::filesystem::path web_root;      // holds web/html (templates) and web/static
    std::filesystem::path resource_dir;  // texts.json, classes.json, provision.json
    std::size_t max_template_bytes = 4u << 20;
};

// Applies the settings: later debug lines go to data_dir/debug.log, templates
// are read under web_root, texts are reloaded from resource_dir/texts.json.
TESSERA_HOST_API void Configure(const HostSettings& settings);
TESSERA_HOST_API HostSettings CurrentSettings();

}  // namespace tessera::host
