// fork/execve with three pipes and one poll loop, so a child that writes much to
// both streams while reading its input never blocks against the test.
#include "process_runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tessera::test {
namespace {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

[[noreturn]] void ThrowSystemError(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::generic_category().message(error));
}

std::pair<Descriptor, Descriptor> MakePipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ThrowSystemError("pipe2", errno);
    }
    return {Descriptor(fds[0]), Descriptor(fds[1])};
}

std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool is_overridden = false;
        for (const auto& [name, value] : overrides) {
            is_overridden = is_overridden || text.rfind(name + "=", 0) == 0;
        }
        if (!is_overridden) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Only async-signal-safe calls between fork and exec: the test process may have threads.
[[noreturn]] void ExecChild(int input_fd, int output_fd, int error_fd, int report_fd, const char* working_dir,
                            const char* program, char* const* argv, char* const* envp) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &default_action, nullptr);
    if (::dup2(input_fd, STDIN_FILENO) < 0 || ::dup2(output_fd, STDOUT_FILENO) < 0 ||
        ::dup2(error_fd, STDERR_FILENO) < 0 || (working_dir != nullptr && ::chdir(working_dir) != 0)) {
        const int error = errno;
        (void)!::write(report_fd, &error, sizeof error);
        ::_exit(127);
    }
    ::execve(program, argv, envp);
    const int error = errno;
    (void)!::write(report_fd, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
    std::vector<std::string> argv_texts{program.string()};
    argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = PointerArray(argv_texts);
    std::vector<std::string> env_texts = ChildEnvironment(options.environment);
    std::vector<char*> envp = PointerArray(env_texts);
    const std::string working_dir = options.working_dir.string();
    const std::string program_path = program.string();

    auto [input_read, input_write] = MakePipe();
    auto [output_read, output_write] = MakePipe();
    auto [error_read, error_write] = MakePipe();
    auto [report_read, report_write] = MakePipe();  // closed by exec; carries errno when exec fails
    Descriptor null_input;
    if (!options.standard_input) {
        null_input = Descriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }

    // Writing to a child that stopped reading must fail with EPIPE, not kill the test.
    static const bool is_sigpipe_ignored = [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
    }();
    (void)is_sigpipe_ignored;

    const pid_t pid = ::fork();
    if (pid < 0) {
        ThrowSystemError("fork", errno);
    }
    if (pid == 0) {
        ExecChild(options.standard_input ? input_read.Get() : null_input.Get(), output_write.Get(), error_write.Get(),
                  report_write.Get(), working_dir.empty() ? nullptr : working_dir.c_str(), program_path.c_str(),
                  argv.data(), envp.data());
    }
    input_read.Close();
    output_write.Close();
    error_write.Close();
    report_write.Close();
    if (!options.standard_input) {
        input_write.Close();
    } else {
        ::fcntl(input_write.Get(), F_SETFL, O_NONBLOCK);
    }

    int exec_error = 0;
    if (::read(report_read.Get(), &exec_error, sizeof exec_error) == static_cast<ssize_t>(sizeof exec_error)) {
        ::waitpid(pid, nullptr, 0);
        ThrowSystemError("cannot run " + program_path, exec_error);
    }

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    std::size_t input_written = 0;
    char buffer[65536];
    // A grandchild may hold the pipes open after the child was killed: give up on them then.
    const auto drain_deadline = deadline + std::chrono::seconds(5);
    while ((output_read.IsOpen() || error_read.IsOpen()) && std::chrono::steady_clock::now() < drain_deadline) {
        pollfd fds[3] = {{output_read.Get(), POLLIN, 0}, {error_read.Get(), POLLIN, 0}, {input_write.Get(), POLLOUT, 0}};
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0 && !result.timed_out) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
        }
        const int wait_ms = result.timed_out ? 1000 : static_cast<int>(std::min<long long>(remaining.count(), 1000));
        if (::poll(fds, 3, wait_ms) < 0 && errno != EINTR) {
            ThrowSystemError("poll", errno);
        }
        for (auto [descriptor, text, event] :
             {std::tuple{&output_read, &result.standard_output, fds[0].revents},
              std::tuple{&error_read, &result.standard_error, fds[1].revents}}) {
            if ((event & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t count = ::read(descriptor->Get(), buffer, sizeof buffer);
            if (count > 0) {
                text->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                descriptor->Close();
            }
        }
        if (input_write.IsOpen() && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const std::string& input = *options.standard_input;
            const ssize_t count = ::write(input_write.Get(), input.data() + input_written, input.size() - input_written);
            if (count > 0) {
                input_written += static_cast<std::size_t>(count);
            }
            if ((count < 0 && errno != EAGAIN && errno != EINTR) || input_written == input.size()) {
                input_write.Close();
            }
        }
    }

    // The child may close its streams and still run.
    int status = 0;
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, result.timed_out ? 0 : WNOHANG);
        if (waited == pid) {
            break;
        }
        if (waited < 0 && errno != EINTR) {
            ThrowSystemError("waitpid", errno);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace tessera::test
