// Options every console command shares, and the one place that turns them into
// configured host services.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessera::host {
class ConsoleStore;
}

namespace tessera::console {

#if defined(_WIN32)
inline constexpr char kPluginFileName[] = "Tessera.dll";
#else
inline constexpr char kPluginFileName[] = "libTessera.so";
#endif

struct CommonOptions {
    std::filesystem::path data_dir = TESSERA_DEFAULT_DATA_DIR;  // "var", or /var/lib/tessera installed system-wide
    std::string store_url;                                      // default: sqlite: the data folder's store.db
    std::filesystem::path web_root;      // default: share/tessera of the tree that holds the program
    std::filesystem::path resource_dir;  // default: its data folder
    std::filesystem::path plugin_path;   // default: the Tessera library in that tree's lib/tessera
};

// Whether a command may make the data folder: those that only read refuse a
// folder without a store, rather than make and provision an empty one.
enum class DataFolderUse { kCreate, kReadExisting };

// Creates the data folder when missing (kCreate), configures the host services
// (debug log, templates, texts) and opens the store, provisioning it on first
// use; the store becomes the current one. Throws std::runtime_error with a
// one-line message, CommandError when kReadExisting finds no store.
std::shared_ptr<host::ConsoleStore> PrepareHost(const CommonOptions& options,
                                                DataFolderUse use = DataFolderUse::kCreate);

// What to tell an operator whose store is damaged: the first of `problems`,
// and the ways back.
std::string DamagedStoreMessage(const host::ConsoleStore& store, const std::vector<std::string>& problems);

// The plug-in path to load: --plugin when given, else libTessera.so in the
// tessera folder of the library folder of the tree that holds the program.
std::filesystem::path ResolvePluginPath(const CommonOptions& options);

}  // namespace tessera::console
