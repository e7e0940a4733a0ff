// The options every command shares.
#include "commands.h"
#include "console_context.h"

#include <CLI/CLI.hpp>

#include <string>

namespace tessera::console {

void AddCommonOptions(CLI::App& command, CommonOptions& options, bool loads_plugin) {
    command
        .add_option("--data", options.data_dir,
                    "Folder of the store, the audit log and debug.log; created and provisioned on first use")
        ->default_str(options.data_dir.string())
        ->type_name("DIR");
    command
        .add_option("--store", options.store_url,
                    "Where the configuration is: sqlite:PATH, or postgresql://HOST/DB?sslmode=verify-full (the "
                    "password in a password file, never here)")
        ->default_str("sqlite:DIR/store.db")
        ->envname("TESSERA_STORE")
        ->type_name("URL");
    command.add_option("--web-root", options.web_root, "Folder that holds web/html (the page templates)")
        ->default_str(std::string(TESSERA_BIN_TO_DATA) + " from this program's folder")
        ->type_name("DIR")
        ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
    if (loads_plugin) {
        command.add_option("--plugin", options.plugin_path, "Page plug-in to load")
            ->default_str(std::string(TESSERA_BIN_TO_PLUGINS) + "/" + kPluginFileName + " from this program's folder")
            ->type_name("FILE");
    }
}

}  // namespace tessera::console
