// The host name and addresses of this machine.
#include "machine_names.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace tessera::console {
namespace {

// Letters, digits, hyphens and dots, as a DNS name in a URL and a certificate must be.
bool IsDnsName(const std::string& name) {
    return !name.empty() && name.size() <= 253 && name.front() != '-' && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.';
           });
}

}  // namespace

MachineNames NamesOfThisMachine() {
    MachineNames names;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && IsDnsName(host) && std::string(host) != "localhost") {
        names.host_name = host;
    }
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return names;
    for (const ifaddrs* each = interfaces; each != nullptr; each = each->ifa_next) {
        if (each->ifa_addr == nullptr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (each->ifa_addr->sa_family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(each->ifa_addr);
            if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) continue;
            ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        } else if (each->ifa_addr->sa_family == AF_INET6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(each->ifa_addr);
            // A link-local address needs its interface's zone, which no URL carries.
            if (IN6_IS_ADDR_LOOPBACK(&address->sin6_addr) || IN6_IS_ADDR_LINKLOCAL(&address->sin6_addr)) continue;
            ::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text);
        } else {
            continue;
        }
        if (std::find(names.addresses.begin(), names.addresses.end(), text) == names.addresses.end()) {
            names.addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(interfaces);
    return names;
}

bool IsWildcardHost(const std::string& listen_host) {
    return listen_host.empty() || listen_host == "0.0.0.0" || listen_host == "::";
}

}  // namespace tessera::console
