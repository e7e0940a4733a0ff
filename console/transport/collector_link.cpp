// Sending to a syslog collector over TCP or TLS, without blocking past a deadline.
#include "collector_link.h"
#include "tls_identity.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace tessera::console {
namespace {

using Clock = std::chrono::steady_clock;

std::runtime_error Failure(const CollectorAddress& address, const std::string& reason) {
    return std::runtime_error((address.is_tls ? "tls://" : "tcp://") + address.host + ":" + address.port + ": " +
                              reason);
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `socket` until the deadline; false when it passed.
bool WaitFor(int socket, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd watched{socket, events, 0};
        const int ready = ::poll(&watched, 1, MillisecondsLeft(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool IsIpAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

CollectorAddress ParseCollectorUrl(const std::string& url) {
    CollectorAddress address;
    std::string rest;
    if (url.rfind("tcp://", 0) == 0) {
        rest = url.substr(6);
    } else if (url.rfind("tls://", 0) == 0) {
        address.is_tls = true;
        rest = url.substr(6);
    } else {
        throw std::invalid_argument("\"" + url + "\" is not tcp://HOST:PORT or tls://HOST:PORT");
    }
    std::size_t colon = std::string::npos;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            throw std::invalid_argument("\"" + url + "\": an IPv6 address is written [ADDRESS]:PORT");
        }
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) throw std::invalid_argument("\"" + url + "\" names no port");
        address.host = rest.substr(0, colon);
    }
    address.port = rest.substr(colon + 1);
    const bool is_number = !address.port.empty() && address.port.size() <= 5 &&
                           address.port.find_first_not_of("0123456789") == std::string::npos;
    if (!is_number || std::stoi(address.port) < 1 || std::stoi(address.port) > 65535) {
        throw std::invalid_argument("\"" + url + "\": the port is a number from 1 to 65535");
    }
    if (address.host.empty() || address.host.find_first_of("/?#@ ") != std::string::npos) {
        throw std::invalid_argument("\"" + url + "\" names no host");
    }
    return address;
}

CollectorLink::CollectorLink(CollectorAddress address, const CollectorTls& tls) : address_(std::move(address)) {
    if (!address_.is_tls) {
        if (tls.ca_file.empty() && tls.certificate_file.empty()) return;
        throw std::invalid_argument("certificates are for a tls:// collector");
    }
    tls_context_.reset(SSL_CTX_new(TLS_client_method()));
    if (!tls_context_) throw std::runtime_error("cannot make a TLS context: " + OpenSslReason());
    SSL_CTX_set_min_proto_version(tls_context_.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(tls_context_.get(), SSL_VERIFY_PEER, nullptr);
    const bool has_authorities =
        tls.ca_file.empty() ? SSL_CTX_set_default_verify_paths(tls_context_.get()) == 1
                            : SSL_CTX_load_verify_locations(tls_context_.get(), tls.ca_file.c_str(), nullptr) == 1;
    if (!has_authorities) {
        throw std::runtime_error("cannot read the certificate authorities " +
                                 (tls.ca_file.empty() ? std::string("of the system") : tls.ca_file.string()) + ": " +
                                 OpenSslReason());
    }
    if (tls.certificate_file.empty() != tls.key_file.empty()) {
        throw std::runtime_error("a client certificate needs its key, and a key its certificate");
    }
    if (!tls.certificate_file.empty()) {
        if (SSL_CTX_use_certificate_chain_file(tls_context_.get(), tls.certificate_file.c_str()) != 1) {
            throw std::runtime_error("cannot read the certificate " + tls.certificate_file.string() + ": " +
                                     OpenSslReason());
        }
        if (SSL_CTX_use_PrivateKey_file(tls_context_.get(), tls.key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(tls_context_.get()) != 1) {
            throw std::runtime_error("cannot use the key " + tls.key_file.string() + ": " + OpenSslReason());
        }
    }
}

CollectorLink::~CollectorLink() { Close(); }

void CollectorLink::Close() noexcept {
    if (tls_ != nullptr) SSL_free(tls_);
    tls_ = nullptr;
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void CollectorLink::Connect(Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int failed = ::getaddrinfo(address_.host.c_str(), address_.port.c_str(), &hints, &found); failed != 0) {
        throw Failure(address_, std::string("cannot find the host: ") + ::gai_strerror(failed));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
    std::string reason = "no address";
    for (const addrinfo* candidate = found; candidate != nullptr && socket_ < 0; candidate = candidate->ai_next) {
        const int socket = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) continue;
        int error = 0;
        if (::connect(socket, candidate->ai_addr, candidate->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                socklen_t length = sizeof error;
                error = WaitFor(socket, POLLOUT, deadline)
                            ? (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno)
                            : ETIMEDOUT;
            }
        }
        if (error == 0) {
            socket_ = socket;
        } else {
            reason = std::strerror(error);
            ::close(socket);
        }
    }
    if (socket_ < 0) throw Failure(address_, "cannot connect: " + reason);
    const int on = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!address_.is_tls) return;

    tls_ = SSL_new(tls_context_.get());
    if (tls_ == nullptr || SSL_set_fd(tls_, socket_) != 1) {
        Close();
        throw Failure(address_, "cannot start TLS: " + OpenSslReason());
    }
    const bool names_host = IsIpAddress(address_.host)
                                ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_), address_.host.c_str()) == 1
                                : SSL_set1_host(tls_, address_.host.c_str()) == 1 &&
                                      SSL_set_tlsext_host_name(tls_, address_.host.c_str()) == 1;
    if (!names_host) {
        Close();
        throw Failure(address_, "cannot check the certificate's name: " + OpenSslReason());
    }
    for (;;) {
        const int result = SSL_connect(tls_);
        if (result == 1) return;
        const int wants = SSL_get_error(tls_, result);
        const bool waited = (wants == SSL_ERROR_WANT_READ && WaitFor(socket_, POLLIN, deadline)) ||
                            (wants == SSL_ERROR_WANT_WRITE && WaitFor(socket_, POLLOUT, deadline));
        if (!waited) {
            const long verified = SSL_get_verify_result(tls_);
            const std::string why = wants == SSL_ERROR_WANT_READ || wants == SSL_ERROR_WANT_WRITE
                                        ? std::string("the TLS handshake timed out")
                                    : verified != X509_V_OK ? std::string("the collector's certificate is refused: ") +
                                                                  X509_verify_cert_error_string(verified)
                                                            : "the TLS handshake failed: " + OpenSslReason();
            Close();
            throw Failure(address_, why);
        }
    }
}

// A collector never sends: what arrives is its end of the connection (or, over
// TLS, a record such as a session ticket, which is read and dropped). A
// collector that closes its end with bytes unread resets the connection; one
// that read everything closes it.
CollectorLink::PeerState CollectorLink::Peer() {
    if (tls_ == nullptr) {
        char octet = 0;
        const ssize_t got = ::recv(socket_, &octet, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return PeerState::kOpen;
        return got == 0 ? PeerState::kClosed : PeerState::kReset;
    }
    for (;;) {
        char dropped[256];
        const int got = SSL_read(tls_, dropped, sizeof dropped);
        if (got > 0) continue;
        const int why = SSL_get_error(tls_, got);
        const int error = errno;
        ERR_clear_error();
        if (why == SSL_ERROR_WANT_READ) return PeerState::kOpen;
        if (why == SSL_ERROR_ZERO_RETURN || (why == SSL_ERROR_SYSCALL && error == 0)) return PeerState::kClosed;
        return PeerState::kReset;
    }
}

void CollectorLink::Send(std::string_view bytes, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (socket_ >= 0 && Peer() != PeerState::kOpen) Close();
    if (socket_ < 0) Connect(deadline);
    while (!bytes.empty()) {
        int sent = 0;
        bool waited = false;
        if (tls_ != nullptr) {
            const int result =
                SSL_write(tls_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
            const int wants = result > 0 ? SSL_ERROR_NONE : SSL_get_error(tls_, result);
            sent = result > 0 ? result : 0;
            waited = result > 0 || (wants == SSL_ERROR_WANT_WRITE && WaitFor(socket_, POLLOUT, deadline)) ||
                     (wants == SSL_ERROR_WANT_READ && WaitFor(socket_, POLLIN, deadline));
        } else {
            const ssize_t result = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            sent = result > 0 ? static_cast<int>(result) : 0;
            waited = result > 0 || ((errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) &&
                                    WaitFor(socket_, POLLOUT, deadline));
        }
        if (!waited) {
            const std::string reason = MillisecondsLeft(deadline) == 0 ? "sending timed out" : std::strerror(errno);
            Close();
            throw Failure(address_, "cannot send: " + reason);
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    // Written is not received: wait for the collector's acknowledgement of the last byte.
    for (;;) {
        int unacknowledged = 0;
        const bool is_counted = ::ioctl(socket_, SIOCOUTQ, &unacknowledged) == 0;
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0 || !is_counted) {
            Close();
            throw Failure(address_, std::string("the connection broke: ") + std::strerror(is_counted ? error : errno));
        }
        if (unacknowledged == 0) break;
        if (MillisecondsLeft(deadline) == 0) {
            Close();
            throw Failure(address_, "the collector did not acknowledge what was sent");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const PeerState peer = Peer();
    if (peer == PeerState::kReset) {
        Close();
        throw Failure(address_, "the collector reset the connection: what it had not read yet is sent again");
    }
    if (peer == PeerState::kClosed) Close();
}

}  // namespace tessera::console
