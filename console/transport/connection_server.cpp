// The web console's connections: worker threads that wait together on one
// event set, read requests as they arrive, and hand each whole request to the
// HTTP library's request handling on the thread that completed it.
#include "connection_server.h"

#include "access_log.h"
#include "debug_log.h"
#include "request_head.h"
#include "response_head.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <httplib.h>
#include <openssl/err.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <fcntl.h>

// The event server overrides the library's private connection handler and
// calls its request handling with this version's signatures and behaviour:
// another version must be read against it before it is taken.
static_assert(std::string_view(CPPHTTPLIB_VERSION) == "0.11.4",
              "the connection server is written against cpp-httplib 0.11.4 (Debian 12)");

namespace tessera::console {

using Clock = std::chrono::steady_clock;

std::optional<std::string> CanonicalAddress(std::string_view text) {
    const std::string address(text);
    unsigned char bytes[sizeof(in6_addr)] = {};
    char canonical[INET6_ADDRSTRLEN] = {};
    for (const int family : {AF_INET, AF_INET6}) {
        if (::inet_pton(family, address.c_str(), bytes) == 1 &&
            ::inet_ntop(family, bytes, canonical, sizeof canonical) != nullptr) {
            return std::string(canonical);
        }
    }
    return std::nullopt;
}

namespace {

struct Connection {
    enum class Phase { kIdle, kHead, kBody, kServing };

    std::uint64_t id = 0;  // in the event set: a closed socket's number may come back with the next accept
    int fd = -1;
    SSL* tls = nullptr;
    bool is_handshaken = false;
    std::string peer_address;
    int peer_port = 0;
    bool is_trusted_proxy = false;
    std::string client_address;  // of the request being served: the peer's, or the one a trusted proxy names
    std::string local_address;
    int local_port = 0;

    Phase phase = Phase::kIdle;
    Clock::time_point deadline;
    std::string input;                   // bytes read and not yet handled
    std::size_t head_checked_bytes = 0;  // of the head being read: see ReadRequestHead
    std::size_t request_end = 0;         // bytes of `input` that make the request read ahead
    std::size_t body_left_to_read = 0;   // for the request's thread: body bytes still on the socket
    std::size_t read_offset = 0;         // how far the library has read `input`
    std::size_t requests_served = 0;
    unsigned wanted_events = EPOLLIN;  // what the connection waits for when it is next watched

    // Guarded by the server's mutex. A taken connection is one thread's alone
    // and out of the deadline scan; an event that comes for it meanwhile is
    // noted, for the thread to act on before it lets go.
    bool is_taken = false;
    bool has_missed_event = false;

    ~Connection() {
        if (tls != nullptr) {
            SSL_shutdown(tls);  // best effort on a non-blocking socket
            SSL_free(tls);
        }
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

class ConnectionServer::EventServer : public httplib::Server {
public:
    EventServer(ConnectionLimits limits, SSL_CTX* tls);
    ~EventServer() override;

    void WidenListenBacklog();
    void CloseConnections();

private:
    enum class Step { kWait, kServe, kClose };

    // Called by the library's accept loop for each accepted socket; adds it to
    // the event set and returns at once.
    bool process_and_close_socket(socket_t sock) override;

    void Admit(std::unique_ptr<Connection> connection);
    // Each of the worker threads: takes one ready connection at a time.
    void WorkerLoop();
    void Take(std::uint64_t id);
    // Reads, answers and reads again until the connection waits for input or closes.
    void Drive(Connection& connection);
    // Reads what the socket holds; returns false when the connection is to go.
    bool ReadAvailable(Connection& connection);
    // What a connection's input calls for after a read.
    Step Advance(Connection& connection);
    // Answers the request in `input`; returns true when the connection stays open.
    bool Serve(Connection& connection);
    // Watches the connection again and lets go of it; false when an event came
    // meanwhile and the connection is still this thread's.
    bool LetGo(Connection& connection);
    void CloseExpired();
    void Close(Connection& connection);

    ConnectionLimits limits_;
    RequestHeadLimits head_limits_;
    SSL_CTX* tls_;
    int epoll_fd_ = -1;
    int stop_fd_ = -1;  // readable once the server stops: wakes every thread
    int scan_fd_ = -1;  // a timer for the deadline scan

    std::mutex mutex_;                                                            // guards everything below
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;  // by id
    std::map<std::string, std::size_t> per_address_;
    std::uint64_t last_id_ = 0;
    std::atomic<bool> is_stopping_ = false;

    std::vector<std::thread> workers_;
};

namespace {

// Runs each task at once on the caller's thread: the accept loop's only task
// is to add a socket to the event set.
class InlineTaskQueue : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> task) override { task(); }
    void shutdown() override {}
};

std::pair<std::string, int> AddressOf(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        return {text, ntohs(v4.sin_port)};
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return {text, ntohs(v6.sin6_port)};
}

// Sends a short answer on a socket whose request is not being handled, without waiting.
void SendWithoutWaiting(const Connection& connection, const std::string& response) {
    if (connection.tls != nullptr) {
        if (connection.is_handshaken) SSL_write(connection.tls, response.data(), static_cast<int>(response.size()));
        ERR_clear_error();
        return;
    }
    [[maybe_unused]] const ssize_t sent =
        ::send(connection.fd, response.data(), response.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

// At no less than `bytes_per_second`, and never more than a day: a length
// from a request must not overflow the clock's arithmetic.
Clock::duration TimeFor(std::size_t bytes, std::size_t bytes_per_second) {
    const std::size_t rate = std::max<std::size_t>(bytes_per_second, 1);
    constexpr std::size_t kDaySeconds = 24 * 60 * 60;
    if (bytes / rate >= kDaySeconds) return std::chrono::seconds(kDaySeconds);
    return std::chrono::milliseconds(bytes / rate * 1000 + bytes % rate * 1000 / rate);
}

// One request's view of its connection for the library: reads come from what
// was read ahead, then from the socket until the read deadline; writes go
// out at no less than the minimum rate.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(Connection& connection, const ConnectionLimits& limits)
        : connection_(connection),
          limits_(limits),
          read_deadline_(Clock::now() + limits.header_timeout +
                         TimeFor(connection.body_left_to_read, limits.min_bytes_per_second)) {}

    bool is_readable() const override { return connection_.read_offset < connection_.input.size(); }
    bool is_writable() const override { return !has_failed_; }

    ssize_t read(char* data, size_t size) override {
        std::string& input = connection_.input;
        if (connection_.read_offset < input.size()) {
            const std::size_t count = std::min(size, input.size() - connection_.read_offset);
            std::copy_n(input.data() + connection_.read_offset, count, data);
            connection_.read_offset += count;
            return static_cast<ssize_t>(count);
        }
        if (!Flush()) return -1;  // the client may wait for what is held, such as "100 Continue"
        for (;;) {
            const ssize_t received = Receive(data, size);
            if (received >= 0) return received;
            if (!WaitFor(wait_events_, read_deadline_)) return Fail();
        }
    }

    ssize_t write(const char* data, size_t size) override {
        if (written_ == 0 && held_.empty()) write_started_ = Clock::now();  // handling the request took its own time
        std::string_view out(data, size);
        FinishedHead head;
        if (!is_head_seen_) {
            // The library writes each response head in one piece.
            head = FinishResponseHead(out, std::chrono::system_clock::now());
            is_head_seen_ = !head.is_interim;
            response_closes_ = head.closes;
            out = head.text;
        }
        // The response's head waits for its body, and both go out in one send.
        if (written_ == 0 && held_.empty() && out.size() <= kMaxHeldBytes) {
            held_.assign(out);
            return static_cast<ssize_t>(size);
        }
        if (connection_.tls != nullptr && !held_.empty() && held_.size() + out.size() <= kMaxHeldBytes) {
            // TLS has no gathered write: a small page's head and body go out as one record.
            held_.append(out);
            return Flush() ? static_cast<ssize_t>(size) : -1;
        }
        const bool is_sent = SendAll(held_, out);
        held_.clear();
        return is_sent ? static_cast<ssize_t>(size) : -1;
    }

    // Sends what write() held back; false when the connection failed.
    bool Flush() {
        if (held_.empty()) return !has_failed_;
        const bool is_sent = SendAll(held_, {});
        held_.clear();
        return is_sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.client_address;
        port = connection_.peer_port;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.local_address;
        port = connection_.local_port;
    }
    socket_t socket() const override { return connection_.fd; }

    bool HasFailed() const { return has_failed_; }
    // True when the response closes the connection (see FinishResponseHead).
    bool ResponseCloses() const { return response_closes_; }

private:
    ssize_t Fail() {
        has_failed_ = true;
        return -1;
    }

    // Sends `first`, then `second`; false when the connection failed.
    bool SendAll(std::string_view first, std::string_view second) {
        const std::size_t size = first.size() + second.size();
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t result =
                sent < first.size() ? Send(first.substr(sent), second) : Send(second.substr(sent - first.size()), {});
            if (result > 0) {
                sent += static_cast<std::size_t>(result);
                continue;
            }
            if (result == 0 || !WaitFor(wait_events_, WriteDeadline())) {
                Fail();
                return false;
            }
        }
        written_ += size;
        return true;
    }

    Clock::time_point WriteDeadline() const {
        return write_started_ + limits_.header_timeout + TimeFor(written_, limits_.min_bytes_per_second);
    }

    // Bytes received, 0 at the end of the stream, or -1 to wait for wait_events_.
    ssize_t Receive(char* data, size_t size) {
        if (connection_.tls != nullptr) {
            const int received = SSL_read(connection_.tls, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
            return received > 0 ? received : TlsRetry(received);
        }
        const ssize_t received = ::recv(connection_.fd, data, size, 0);
        if (received >= 0) return received;
        wait_events_ = POLLIN;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : 0;
    }

    // Bytes sent of `first` and then `second` (TLS: of `first` alone), or -1
    // to wait for wait_events_, or 0 when the connection failed.
    ssize_t Send(std::string_view first, std::string_view second) {
        if (connection_.tls != nullptr) {
            const int sent =
                SSL_write(connection_.tls, first.data(), static_cast<int>(std::min<size_t>(first.size(), 1 << 30)));
            return sent > 0 ? sent : TlsRetry(sent) < 0 ? -1 : 0;
        }
        iovec pieces[] = {{const_cast<char*>(first.data()), first.size()},
                          {const_cast<char*>(second.data()), second.size()}};
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = second.empty() ? 1 : 2;
        const ssize_t sent = ::sendmsg(connection_.fd, &message, MSG_NOSIGNAL);
        if (sent >= 0) return sent;
        wait_events_ = POLLOUT;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : 0;
    }

    ssize_t TlsRetry(int result) {
        const int error = SSL_get_error(connection_.tls, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            wait_events_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            return -1;
        }
        ERR_clear_error();
        return 0;
    }

    bool WaitFor(short events, Clock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd waiting{connection_.fd, events, 0};
            const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left, 1000)));
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
    }

    Connection& connection_;
    const ConnectionLimits& limits_;
    Clock::time_point read_deadline_;
    Clock::time_point write_started_;
    static constexpr std::size_t kMaxHeldBytes = 64 * 1024;
    std::size_t written_ = 0;
    std::string held_;
    short wait_events_ = POLLIN;
    bool has_failed_ = false;
    bool is_head_seen_ = false;
    bool response_closes_ = false;
};

}  // namespace

namespace {

constexpr std::uint64_t kStopEvent = ~std::uint64_t{0};
constexpr std::uint64_t kScanEvent = kStopEvent - 1;
constexpr auto kScanInterval = std::chrono::milliseconds(100);

}  // namespace

ConnectionServer::EventServer::EventServer(ConnectionLimits limits, SSL_CTX* tls)
    : limits_(limits),
      head_limits_{limits.max_header_bytes, RequestHeadLimits{}.max_request_line_bytes, limits.max_body_bytes},
      tls_(tls),
      epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)),
      stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      scan_fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {
    if (epoll_fd_ < 0 || stop_fd_ < 0 || scan_fd_ < 0) throw std::runtime_error("cannot set up the connection events");
    if (tls_ != nullptr) SSL_CTX_up_ref(tls_);
    // Level-triggered and never drained: once written, it wakes every thread.
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.u64 = kStopEvent;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, stop_fd_, &stop);
    // One shot: the thread that takes it scans, then arms it again.
    const auto interval_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(kScanInterval).count();
    itimerspec period{};
    period.it_interval.tv_nsec = interval_ns;
    period.it_value.tv_nsec = interval_ns;
    ::timerfd_settime(scan_fd_, 0, &period, nullptr);
    epoll_event scan{};
    scan.events = EPOLLIN | EPOLLONESHOT;
    scan.data.u64 = kScanEvent;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, scan_fd_, &scan);
    new_task_queue = [] { return new InlineTaskQueue; };
    for (std::size_t index = 0; index < std::max<std::size_t>(limits_.worker_threads, 1); ++index) {
        workers_.emplace_back([this] { WorkerLoop(); });
    }
}

ConnectionServer::EventServer::~EventServer() {
    CloseConnections();
    ::close(scan_fd_);
    ::close(stop_fd_);
    ::close(epoll_fd_);
    if (tls_ != nullptr) SSL_CTX_free(tls_);
}

void ConnectionServer::EventServer::WidenListenBacklog() {
    // listen() again on a listening socket only changes its backlog.
    if (::listen(svr_sock_, SOMAXCONN) != 0) {
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "cannot widen the listen backlog: errno %d", errno);
    }
}

bool ConnectionServer::EventServer::process_and_close_socket(socket_t sock) {
    auto connection = std::make_unique<Connection>();
    connection->fd = sock;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    std::tie(connection->peer_address, connection->peer_port) = AddressOf(address);
    connection->is_trusted_proxy = std::find(limits_.trusted_proxies.begin(), limits_.trusted_proxies.end(),
                                             connection->peer_address) != limits_.trusted_proxies.end();
    length = sizeof address;
    if (::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        std::tie(connection->local_address, connection->local_port) = AddressOf(address);
    }
    ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
    Admit(std::move(connection));
    return true;
}

void ConnectionServer::EventServer::Admit(std::unique_ptr<Connection> connection) {
    connection->deadline = Clock::now() + limits_.header_timeout;
    {
        const std::lock_guard lock(mutex_);
        std::size_t& from_address = per_address_[connection->peer_address];
        if (!is_stopping_ && connections_.size() < limits_.max_connections &&
            (from_address < limits_.max_connections_per_address || connection->is_trusted_proxy)) {
            ++from_address;
            if (tls_ != nullptr) {
                connection->tls = SSL_new(tls_);
                SSL_set_fd(connection->tls, connection->fd);
                SSL_set_accept_state(connection->tls);
            }
            connection->id = ++last_id_;
            // Watched under the lock: the stop must not close the socket before it is in the set.
            epoll_event event{};
            event.events = EPOLLIN | EPOLLONESHOT;
            event.data.u64 = connection->id;
            ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, connection->fd, &event);
            const std::uint64_t id = connection->id;
            connections_.emplace(id, std::move(connection));
        } else if (from_address == 0) {
            per_address_.erase(connection->peer_address);
        }
    }
    if (connection) {
        // Refused: a plain-text answer means nothing inside TLS, so TLS clients just see the close.
        if (tls_ == nullptr) {
            SendWithoutWaiting(*connection, RefusalResponse(503, "Too many connections.", limits_.refusal_header_lines,
                                                            std::chrono::system_clock::now()));
        }
        DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "connection from %s refused: too many connections",
                        connection->peer_address.c_str());
    }
}

void ConnectionServer::EventServer::WorkerLoop() {
    for (;;) {
        // One event at a time: the others stay for the threads that are free.
        epoll_event event{};
        const int ready = ::epoll_wait(epoll_fd_, &event, 1, -1);
        if (ready < 0 && errno != EINTR) return;
        if (ready != 1) continue;
        if (event.data.u64 == kStopEvent) return;
        if (event.data.u64 == kScanEvent) {
            CloseExpired();
            continue;
        }
        Take(event.data.u64);
    }
}

void ConnectionServer::EventServer::Take(std::uint64_t id) {
    Connection* connection = nullptr;
    {
        const std::lock_guard lock(mutex_);
        const auto found = connections_.find(id);
        if (found == connections_.end() || is_stopping_) return;  // closed since, or left for the stop to close
        connection = found->second.get();
        if (connection->is_taken) {
            connection->has_missed_event = true;
            return;
        }
        connection->is_taken = true;
    }
    Drive(*connection);
}

void ConnectionServer::EventServer::Drive(Connection& connection) {
    bool is_open = ReadAvailable(connection);
    for (;;) {
        if (!is_open) {
            Close(connection);
            return;
        }
        const Step step = Advance(connection);
        if (step == Step::kClose) {
            is_open = false;
        } else if (step == Step::kServe) {
            is_open = Serve(connection);
            // What follows the request is the start of the next one, already read or (with TLS) decrypted.
            if (is_open && (!connection.input.empty() || connection.tls != nullptr)) {
                is_open = ReadAvailable(connection);
            }
        } else if (LetGo(connection)) {
            return;
        } else {
            is_open = ReadAvailable(connection);
        }
    }
}

bool ConnectionServer::EventServer::LetGo(Connection& connection) {
    // Watched before it is let go, so that no other thread can have closed it;
    // an event that comes in between is noted as missed.
    epoll_event event{};
    event.events = connection.wanted_events | EPOLLONESHOT;
    event.data.u64 = connection.id;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, connection.fd, &event);
    const std::lock_guard lock(mutex_);
    if (connection.has_missed_event) {
        connection.has_missed_event = false;
        return false;
    }
    connection.is_taken = false;
    return true;
}

void ConnectionServer::EventServer::CloseExpired() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t drained = ::read(scan_fd_, &expirations, sizeof expirations);
    const Clock::time_point now = Clock::now();
    std::vector<Connection*> expired;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [id, connection] : connections_) {
            if (!connection->is_taken && connection->deadline <= now) {
                connection->is_taken = true;
                expired.push_back(connection.get());
            }
        }
    }
    for (Connection* connection : expired) {
        if (connection->phase != Connection::Phase::kIdle) {
            SendWithoutWaiting(*connection,
                               RefusalResponse(408, "The request did not arrive in time.", limits_.refusal_header_lines,
                                               std::chrono::system_clock::now()));
        }
        Close(*connection);
    }
    epoll_event scan{};
    scan.events = EPOLLIN | EPOLLONESHOT;
    scan.data.u64 = kScanEvent;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, scan_fd_, &scan);
}

bool ConnectionServer::EventServer::ReadAvailable(Connection& connection) {
    if (connection.tls != nullptr && !connection.is_handshaken) {
        const int result = SSL_do_handshake(connection.tls);
        if (result != 1) {
            const int error = SSL_get_error(connection.tls, result);
            ERR_clear_error();
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                connection.wanted_events = error == SSL_ERROR_WANT_READ ? EPOLLIN : EPOLLOUT;
                return true;
            }
            return false;
        }
        connection.is_handshaken = true;
    }
    // A TLS read that had to wait for the socket to take a write watched for that; reading watches for input.
    connection.wanted_events = EPOLLIN;
    // Read no further than the request being read ahead needs.
    const std::size_t limit =
        connection.phase == Connection::Phase::kBody ? connection.request_end : limits_.max_header_bytes + 1;
    char buffer[16 * 1024];
    while (connection.input.size() < limit) {
        const std::size_t wanted = std::min(sizeof buffer, limit - connection.input.size());
        if (connection.tls != nullptr) {
            const int received = SSL_read(connection.tls, buffer, static_cast<int>(wanted));
            if (received > 0) {
                connection.input.append(buffer, static_cast<std::size_t>(received));
                continue;
            }
            const int error = SSL_get_error(connection.tls, received);
            ERR_clear_error();
            if (error == SSL_ERROR_WANT_READ) return true;
            if (error == SSL_ERROR_WANT_WRITE) {
                connection.wanted_events = EPOLLIN | EPOLLOUT;
                return true;
            }
            return false;
        }
        const ssize_t received = ::recv(connection.fd, buffer, wanted, 0);
        if (received > 0) {
            connection.input.append(buffer, static_cast<std::size_t>(received));
            // A short read took all there was; whatever comes later makes the socket readable again.
            if (static_cast<std::size_t>(received) < wanted) return true;
            continue;
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
        return false;  // the client closed, or the connection failed
    }
    return true;
}

ConnectionServer::EventServer::Step ConnectionServer::EventServer::Advance(Connection& connection) {
    const Clock::time_point now = Clock::now();
    if (connection.phase == Connection::Phase::kIdle) {
        if (connection.input.empty()) return Step::kWait;
        connection.phase = Connection::Phase::kHead;
        connection.head_checked_bytes = 0;
        connection.deadline = now + limits_.header_timeout;
    }
    if (connection.phase == Connection::Phase::kHead) {
        const RequestHead head = ReadRequestHead(connection.input, head_limits_, connection.head_checked_bytes);
        if (head.state == RequestHead::State::kIncomplete) return Step::kWait;
        // Nothing after a head that cannot be read is a request: it is answered and the connection closes.
        const auto refuse = [&](int status, const char* reason) {
            SendWithoutWaiting(connection, RefusalResponse(status, reason, limits_.refusal_header_lines,
                                                           std::chrono::system_clock::now()));
            return Step::kClose;
        };
        if (head.state == RequestHead::State::kRefused) return refuse(head.refusal_status, head.refusal_reason);
        connection.client_address = connection.peer_address;
        if (connection.is_trusted_proxy && !head.forwarded_for.empty()) {
            const std::optional<std::string> client = CanonicalAddress(head.forwarded_for);
            if (!client) return refuse(400, "The proxy's X-Forwarded-For names no address.");
            connection.client_address = *client;
        }
        std::size_t head_end = head.head_bytes;
        if (!head.rewritten.empty()) {
            connection.input.replace(0, head.head_bytes, head.rewritten);
            head_end = head.rewritten.size();
        }
        const bool has_length = head.has_content_length && !head.has_transfer_encoding;
        const bool reads_ahead = has_length && head.content_length <= kMaxBodyReadAhead;
        // A refused or large body is left on the socket: the screening refuses
        // it, or the request's thread reads it after the session check.
        connection.body_left_to_read = has_length && !reads_ahead ? head.content_length : 0;
        if (!reads_ahead) {
            connection.request_end = head_end;
            return Step::kServe;
        }
        connection.request_end = head_end + head.content_length;
        connection.phase = Connection::Phase::kBody;
        connection.deadline = now + limits_.header_timeout + TimeFor(head.content_length, limits_.min_bytes_per_second);
        if (head.expect_line_start != std::string::npos && connection.input.size() < connection.request_end) {
            // The client waits for this before it sends the body; the library must not send it again.
            connection.input.erase(head.expect_line_start, head.expect_line_bytes);
            connection.request_end -= head.expect_line_bytes;
            SendWithoutWaiting(connection, kContinue);
        }
    }
    // The rest of a body still on the socket makes it readable again.
    return connection.input.size() >= connection.request_end ? Step::kServe : Step::kWait;
}

bool ConnectionServer::EventServer::Serve(Connection& connection) {
    connection.phase = Connection::Phase::kServing;
    connection.read_offset = 0;
    ConnectionStream stream(connection, limits_);
    bool is_closed_by_request = false;
    const bool is_last = ++connection.requests_served >= limits_.max_requests_per_connection;
    const bool is_processed = process_request(stream, is_last, is_closed_by_request, nullptr);
    const bool is_answered = stream.Flush() && is_processed;
    if (!is_answered || is_last || is_closed_by_request || stream.HasFailed() || stream.ResponseCloses()) return false;
    // What follows the request is the start of the next one.
    connection.input.erase(0, connection.read_offset);
    connection.read_offset = 0;
    connection.body_left_to_read = 0;
    connection.wanted_events = EPOLLIN;
    connection.phase = Connection::Phase::kIdle;
    connection.deadline = Clock::now() + limits_.keep_alive_timeout;
    return !is_stopping_;
}

void ConnectionServer::EventServer::Close(Connection& connection) {
    std::unique_ptr<Connection> closing;
    {
        const std::lock_guard lock(mutex_);
        const auto found = connections_.find(connection.id);
        if (found == connections_.end()) return;
        closing = std::move(found->second);
        connections_.erase(found);
        const auto count = per_address_.find(closing->peer_address);
        if (count != per_address_.end() && --count->second == 0) per_address_.erase(count);
    }
    // Destroyed outside the lock: closing the socket may wait for TLS.
}

void ConnectionServer::EventServer::CloseConnections() {
    if (workers_.empty()) return;
    is_stopping_ = true;
    // Each thread finishes the request it is answering, then sees the stop.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(stop_fd_, &one, sizeof one);
    for (std::thread& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
    workers_.clear();
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> remaining;
    {
        const std::lock_guard lock(mutex_);
        remaining.swap(connections_);
        per_address_.clear();
    }
}

ConnectionServer::ConnectionServer(ConnectionLimits limits, SSL_CTX* tls)
    : server_(std::make_unique<EventServer>(limits, tls)) {}

ConnectionServer::~ConnectionServer() = default;

httplib::Server& ConnectionServer::Http() { return *server_; }

void ConnectionServer::WidenListenBacklog() { server_->WidenListenBacklog(); }

void ConnectionServer::CloseConnections() { server_->CloseConnections(); }

}  // namespace tessera::console
