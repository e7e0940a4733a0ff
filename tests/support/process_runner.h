// Runs a program as a child process, without a shell: the tests' way of meeting
// tessera-console as a user does.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::test {

struct ProcessOptions {
    // The child's standard input; without it the child reads from /dev/null.
    std::optional<std::string> standard_input;
    // Variables added to (or replaced in) the inherited environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // After this the child is killed with SIGKILL and the result says so.
    std::chrono::milliseconds timeout{60'000};
};

struct ProcessResult {
    int exit_code = -1;   // -1 when a signal ended the child
    int term_signal = 0;  // the signal that ended the child, else 0
    bool timed_out = false;
    std::string standard_output;
    std::string standard_error;
};

// Runs `program` with `arguments` as argv[1...], each passed as it is, to its
// end. Throws std::runtime_error when the program cannot be started.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Where a child's standard output and standard error go.
using StreamFiles = std::pair<std::filesystem::path, std::filesystem::path>;

// Starts `program` in the background, its standard output and error going to
// the files in `streams` (created or emptied), and returns its process id.
pid_t StartProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const ProcessOptions& options, const StreamFiles& streams);

// A loopback port nothing listens on now, for a server the test starts.
int FreeLoopbackPort();

}  // namespace tessera::test
