// Runs a program as a child process, without a shell, and collects what it wrote:
// the tests' way of meeting tessera-console as a user does.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessera::test {

struct ProcessOptions {
    // Written to the child's standard input, which is then closed; without it the
    // child reads from /dev/null.
    std::optional<std::string> standard_input;
    // The child's working folder; empty keeps the current one.
    std::filesystem::path working_dir;
    // Variables added to (or replaced in) the inherited environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // After this the child is killed with SIGKILL and the result says so.
    std::chrono::milliseconds timeout{60'000};
};

struct ProcessResult {
    int exit_code = -1;  // -1 when a signal ended the child
    int term_signal = 0;  // the signal that ended the child, else 0
    bool timed_out = false;
    std::string standard_output;
    std::string standard_error;
};

// Runs `program` with `arguments` as argv[1...], each passed as it is. Throws
// std::runtime_error when the program cannot be started (missing, not executable).
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

}  // namespace tessera::test
