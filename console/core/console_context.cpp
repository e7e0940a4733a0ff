// The host set-up every command starts with, and where the installed tree keeps its parts.
#include "console_context.h"

#include "command_error.h"
#include "console_store.h"
#include "host_config.h"
#include "mgmt_store.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace tessera::console {
namespace {

std::filesystem::path ExecutablePath() {
#if defined(_WIN32)
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            throw std::runtime_error("cannot find the console's own file: error " + std::to_string(::GetLastError()));
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
#else
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw std::runtime_error("cannot find the console's own file /proc/self/exe: " + error.message());
    }
    return path;
#endif
}

// The installed tree's share/tessera, found from the program's own file:
// templates in web/html, static files in web/static, provisioning in data.
std::filesystem::path DataRoot() { return (ExecutablePath().parent_path() / TESSERA_BIN_TO_DATA).lexically_normal(); }

std::filesystem::path ResolveResourceDir(const CommonOptions& options) {
    if (!options.resource_dir.empty()) {
        return options.resource_dir;
    }
    const char* from_environment = std::getenv("TESSERA_RESOURCE_DIR");
    if (from_environment != nullptr && *from_environment != '\0') {
        return from_environment;
    }
    return DataRoot() / "data";
}

}  // namespace

std::shared_ptr<host::ConsoleStore> PrepareHost(const CommonOptions& options, DataFolderUse use) {
    const std::filesystem::path& data_dir = options.data_dir;
    host::StoreAddress address;
    try {
        address = host::ParseStoreAddress(options.store_url, std::filesystem::absolute(data_dir));
    } catch (const std::invalid_argument& error) {
        throw CommandError(kExitUsage, error.what());
    }
    std::error_code error;
    if (use == DataFolderUse::kReadExisting && address.engine == host::StoreAddress::Engine::kSqlite &&
        !std::filesystem::is_regular_file(address.target, error)) {
        throw CommandError(
            kExitFailure,
            std::filesystem::is_directory(std::filesystem::path(address.target).parent_path(), error)
                ? "the data folder " + data_dir.string() + " holds no store (store.db)"
                : "there is no data folder " + data_dir.string() + "; give --data the folder that serve uses");
    }
    std::filesystem::create_directories(data_dir, error);
    if (error || !std::filesystem::is_directory(data_dir)) {
        throw std::runtime_error("cannot create the data folder " + data_dir.string() +
                                 (error ? ": " + error.message() : ": a file of that name is in the way"));
    }

    host::HostSettings settings;
    settings.data_dir = std::filesystem::absolute(data_dir);
    settings.web_root = std::filesystem::absolute(options.web_root.empty() ? DataRoot() : options.web_root);
    settings.resource_dir = std::filesystem::absolute(ResolveResourceDir(options));
    host::Configure(settings);

    std::shared_ptr<host::ConsoleStore> store;
    try {
        store = host::ConsoleStore::Open(address, settings.resource_dir, use == DataFolderUse::kCreate);
    } catch (const host::StoreAbsent& absent) {
        throw CommandError(kExitFailure, absent.what());
    }
    host::SetCurrentStore(store);
    return store;
}

std::string DamagedStoreMessage(const host::ConsoleStore& store, const std::vector<std::string>& problems) {
    const std::string damage = store.Name() + " is damaged (" +
                               (problems.empty() ? std::string("unknown damage") : problems.front()) +
                               (problems.size() > 1 ? "; " + std::to_string(problems.size() - 1) + " more" : "") +
                               "). Stop every console on it, then: see the damage with `tessera-console store check";
    if (store.Engine() != host::StoreAddress::Engine::kSqlite) {
        return damage +
               " --store URL`; load a dump taken before (`store dump`) with `tessera-console store load "
               "FILE --store URL`, or restore the database from its backup.";
    }
    const std::string data = std::filesystem::path(store.Name()).parent_path().string();
    return damage + " --data " + data +
           "`; put a backup copy of the file in its place, or move it aside and `tessera-console store load FILE "
           "--data " +
           data + "` a dump taken before (`store dump`).";
}

std::filesystem::path ResolvePluginPath(const CommonOptions& options) {
    if (!options.plugin_path.empty()) {
        return options.plugin_path;
    }
    return (ExecutablePath().parent_path() / TESSERA_BIN_TO_PLUGINS / kPluginFileName).lexically_normal();
}

}  // namespace tessera::console
