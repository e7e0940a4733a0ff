// A connection to a syslog collector that only sends: plain TCP or TLS, the
// collector's certificate checked against a CA, and a client certificate for
// a collector that asks for one.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tessera::console {

struct CollectorAddress {
    bool is_tls = false;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    std::string port;
};

// "tcp://HOST:PORT" or "tls://HOST:PORT" ("[::1]" for an IPv6 address).
// Throws std::invalid_argument saying what is wrong.
CollectorAddress ParseCollectorUrl(const std::string& url);

struct CollectorTls {
    std::filesystem::path ca_file;           // empty: the system's certificate authorities
    std::filesystem::path certificate_file;  // with key_file: the console's client certificate
    std::filesystem::path key_file;
};

class CollectorLink {
public:
    // Reads the TLS files at once: throws std::runtime_error naming a file that
    // cannot be read, std::invalid_argument when there are TLS files for a
    // plain TCP collector. Connects only when asked to send.
    CollectorLink(CollectorAddress address, const CollectorTls& tls);
    ~CollectorLink();
    CollectorLink(const CollectorLink&) = delete;
    CollectorLink& operator=(const CollectorLink&) = delete;

    // Sends `bytes` and returns once the collector's side of the connection has
    // acknowledged every one of them, connecting first when there is no open
    // connection (a collector that closed it since is noticed here). Throws
    // std::runtime_error with the reason when that does not happen within
    // `timeout` or the collector resets the connection; the connection is
    // closed then, and the next Send opens another. Syslog has no answer of
    // its own: a collector that acknowledged bytes and then ended without
    // reading them, without a reset that arrives before this returns, loses them.
    void Send(std::string_view bytes, std::chrono::milliseconds timeout);

private:
    void Connect(std::chrono::steady_clock::time_point deadline);
    enum class PeerState { kOpen, kClosed, kReset };
    PeerState Peer();
    void Close() noexcept;

    CollectorAddress address_;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> tls_context_{nullptr, &SSL_CTX_free};
    int socket_ = -1;
    SSL* tls_ = nullptr;
};

}  // namespace tessera::console
