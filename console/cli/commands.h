// The console's command-line commands and the input files they read.
#pragma once

#include "command_error.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace tessera::console {

// The bytes of a file named on the command line. Throws CommandError with
// kExitUsage naming the file when it cannot be read or holds more than
// `max_bytes` (it never reads more than that).
std::string ReadInputFile(const std::filesystem::path& file, std::uintmax_t max_bytes);

struct CommonOptions;

// Adds --data and --web-root to `command`, and --plugin when it loads the plug-in.
void AddCommonOptions(CLI::App& command, CommonOptions& options, bool loads_plugin);

// Each adds its subcommand to `app`; the subcommand's callback does the work.
void AddRenderCommand(CLI::App& app);
void AddStoreCommand(CLI::App& app);
void AddAuditCommand(CLI::App& app);
void AddListCommand(CLI::App& app);
void AddUserCommand(CLI::App& app);  // and passwd
void AddTokenCommand(CLI::App& app);

class AccountDirectory;
// The first administrator on a store without accounts (see
// AccountDirectory::EnsureFirstAdministrator), with its refusals as
// CommandError; returns what to print.
std::string EnsureFirstAccount(AccountDirectory& accounts, const std::filesystem::path& data_dir);

}  // namespace tessera::console
