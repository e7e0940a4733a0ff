// Starts and stops the tests' haproxy.
#include "load_balancer.h"
#include "process_runner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tessera::test {
namespace {

constexpr const char* kProgram = "/usr/sbin/haproxy";

bool Accepts(int port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    return connected;
}

}  // namespace

LoadBalancer::LoadBalancer(const std::vector<int>& backends) : port_(FreeLoopbackPort()) {
    if (::access(kProgram, X_OK) != 0) {
        throw std::runtime_error(std::string("no load balancer: ") + kProgram +
                                 " is missing (scripts/install-deps installs haproxy)");
    }
    // Each request is balanced on its own, with no stickiness: whichever
    // console a client's last request went to, the next may go to the other.
    // Each names its client in X-Forwarded-For.
    std::string configuration = "global\n";
    if (::geteuid() == 0) configuration += "    user nobody\n    group nogroup\n";
    configuration +=
        "defaults\n    mode http\n    option forwardfor\n    timeout connect 5s\n    timeout client 60s\n"
        "    timeout server 60s\n"
        "frontend consoles\n    bind 127.0.0.1:" +
        std::to_string(port_) + "\n    default_backend consoles\nbackend consoles\n    balance roundrobin\n";
    for (std::size_t index = 0; index < backends.size(); ++index) {
        configuration +=
            "    server console" + std::to_string(index + 1) + " 127.0.0.1:" + std::to_string(backends[index]) + "\n";
    }
    const std::filesystem::path file = folder_.Write("haproxy.cfg", configuration);
    const StreamFiles streams{folder_.path() / "haproxy.out", folder_.path() / "haproxy.err"};
    pid_ = StartProcess(kProgram, {"-db", "-f", file.string()}, {}, streams);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Accepts(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            if (::kill(pid_, 0) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;
            throw std::runtime_error("haproxy did not start: " + ReadWholeFile(streams.second));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LoadBalancer::~LoadBalancer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace tessera::test
