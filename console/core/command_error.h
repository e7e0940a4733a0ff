// How a command of the console ends: its exit status, and the error that
// carries one out of the work that fails.
#pragma once

#include <stdexcept>
#include <string>

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

}  // namespace tessera::console
