// posix_spawn with the child's streams in files: a child that writes much to
// both streams never blocks against the test, and a failed exec is reported
// by the spawn itself. And a free port for a server a test starts.
#include "process_runner.h"

#include "temp_folder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tessera::test {
namespace {

std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool is_overridden = false;
        for (const auto& [name, value] : overrides) is_overridden = is_overridden || text.rfind(name + "=", 0) == 0;
        if (!is_overridden) entries.push_back(text);
    }
    for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

pid_t StartProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const ProcessOptions& options, const StreamFiles& streams) {
    std::vector<std::string> argv_texts{program.string()};
    argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = PointerArray(argv_texts);
    std::vector<std::string> env_texts = ChildEnvironment(options.environment);
    std::vector<char*> envp = PointerArray(env_texts);
    const std::string input = options.standard_input ? (streams.first.string() + ".in") : "/dev/null";
    if (options.standard_input) std::ofstream(input, std::ios::binary) << *options.standard_input;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, streams.first.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, streams.second.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;  // the test may ignore SIGPIPE; the child must not inherit that
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot run " + program.string() + ": " + std::strerror(error));
    return pid;
}

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    const TempFolder streams("tessera-process");
    const auto output = streams.path() / "stdout";
    const auto error = streams.path() / "stderr";
    const pid_t pid = StartProcess(program, arguments, options, {output, error});

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
    result.standard_output = ReadWholeFile(output);
    result.standard_error = ReadWholeFile(error);
    return result;
}

int FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (probe < 0 || bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot find a free loopback port");
    }
    close(probe);
    return ntohs(address.sin_port);
}

}  // namespace tessera::test
