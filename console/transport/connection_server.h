// The web console's connections. cpp-httplib parses each request, routes it
// and writes the response; this server owns the sockets around that:
// - a request's headers, and a body of up to kMaxBodyReadAhead bytes, are read
//   as they arrive, a piece at a time, and handled once whole, so a client
//   that trickles its request holds a file descriptor and no thread;
// - headers must arrive within a total deadline, and a body (also one read by
//   the request's thread) and a response at no less than a minimum rate;
// - idle keep-alive connections wait in the event set, not in a thread;
// - one address may hold only so many connections, the console only so many;
// - TLS is spoken here when a certificate is configured;
// - the thread that finds a request whole also answers it, with no hand-over
//   to another thread.
// The library's own server runs a thread per connection for its whole life and
// restarts its read timeout with every byte; an event-driven server from
// another library would mean a second parser for forms and uploads. So the
// console keeps the library's request handling and replaces its connection
// handling.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Server;
}

namespace tessera::console {

struct ConnectionLimits {
    std::size_t worker_threads = 8;     // requests handled at once, and threads that wait for input
    std::size_t max_connections = 512;  // open connections, all addresses together
    std::size_t max_connections_per_address = 48;
    std::chrono::milliseconds header_timeout{10000};     // from a request's first byte to its last header
    std::chrono::milliseconds keep_alive_timeout{5000};  // idle time between requests
    std::size_t min_bytes_per_second = 64 * 1024;        // a body or a response, after header_timeout of grace
    std::size_t max_header_bytes = 64 * 1024;
    std::size_t max_body_bytes = 64u << 20;  // a save of a million approved entries is about 35 MB
    std::size_t max_requests_per_connection = 100;
    // Proxies in front of the console (addresses as inet_ntop writes them):
    // a request from one is from the last address its X-Forwarded-For names
    // (one that names none is refused; without the header, from the proxy).
    // Their connections count against max_connections only.
    std::vector<std::string> trusted_proxies;
    // Header lines ("Name: value\r\n" each) of the answers this server
    // writes itself, to requests it refuses before the HTTP library reads them.
    std::string refusal_header_lines;
};

// `text` as inet_ntop writes the IPv4 or IPv6 address it is; null when it is none.
std::optional<std::string> CanonicalAddress(std::string_view text);

// Bodies up to this size are read as they arrive; larger ones, which only a
// signed-in administrator's list save makes, are read by the request's thread
// once the request has passed the screening and the session check.
inline constexpr std::size_t kMaxBodyReadAhead = 1u << 20;

class ConnectionServer {
public:
    // `tls`, when not null, is used for every connection; the server keeps a reference.
    ConnectionServer(ConnectionLimits limits, SSL_CTX* tls);
    ~ConnectionServer();
    ConnectionServer(const ConnectionServer&) = delete;
    ConnectionServer& operator=(const ConnectionServer&) = delete;

    // The library's server over these connections: routes and handlers are set
    // on it, and it binds, listens and stops.
    httplib::Server& Http();

    // Lets the kernel queue more than the library's five connections while
    // the accept loop catches up: a burst would otherwise see SYNs dropped
    // and retried a second later. Call after binding.
    void WidenListenBacklog();

    // Closes every connection once the requests in flight are answered. Call
    // after the listener has stopped.
    void CloseConnections();

private:
    class EventServer;
    std::unique_ptr<EventServer> server_;
};

}  // namespace tessera::console
