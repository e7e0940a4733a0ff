// The console's command-line commands and how each one ends with an exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace tessera::console {

// Exit statuses shared by every command.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,  // the command could not do its work (store, plug-in, no page)
    kExitUsage = 2,    // bad arguments or unusable input files; nothing was changed
};

// Thrown by a command to end the program with `status`; main writes what() to
// standard error as one line.
class CommandError : public std::runtime_error {
public:
    CommandError(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus Status() const { return status_; }

private:
    ExitStatus status_;
};

// The bytes of a file named on the command line. Throws CommandError with
// kExitUsage naming the file when it cannot be read or holds more than
// `max_bytes` (it never reads more than that).
std::string ReadInputFile(const std::filesystem::path& file, std::uintmax_t max_bytes);

// Each adds its subcommand to `app`; the subcommand's callback does the work.
void AddRenderCommand(CLI::App& app);
void AddStoreCommand(CLI::App& app);
void AddAuditCommand(CLI::App& app);
void AddListCommand(CLI::App& app);

}  // namespace tessera::console
