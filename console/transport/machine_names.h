// What this machine is called on the network, for a console that listens on
// every address: the made certificate names it so, and the console prints it.
#pragma once

#include <string>
#include <vector>

namespace tessera::console {

struct MachineNames {
    std::string host_name;               // empty when the machine has none that a URL can hold
    std::vector<std::string> addresses;  // IPv4 and global IPv6, loopback and link-local left out
};

MachineNames NamesOfThisMachine();

// True for a listen host that means every address ("0.0.0.0", "::", empty).
bool IsWildcardHost(const std::string& listen_host);

}  // namespace tessera::console
