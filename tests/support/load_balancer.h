// haproxy in front of the tests' consoles: Debian's haproxy, run in the
// foreground on a free loopback port with a configuration of the test's own,
// as an unprivileged user (nobody, when the tests run as root).
#pragma once

#include "temp_folder.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace tessera::test {

class LoadBalancer {
public:
    // Round robin over the loopback ports `backends`, request by request.
    // Throws std::runtime_error with haproxy's output when it does not start.
    explicit LoadBalancer(const std::vector<int>& backends);
    ~LoadBalancer();
    LoadBalancer(const LoadBalancer&) = delete;
    LoadBalancer& operator=(const LoadBalancer&) = delete;

    int Port() const { return port_; }

private:
    TempFolder folder_{"tessera-haproxy"};
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace tessera::test
