// The web console's connections: an event loop that reads requests whole, and
// workers that hand them to the HTTP library's request handling.
#include "connection_server.h"

#include "access_log.h"
#include "bounded_task_queue.h"
#include "debug_log.h"
#include "text_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <openssl/err.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>

namespace tessera::console {

using Clock = std::chrono::steady_clock;

namespace {

struct Connection {
    enum class Phase { kIdle, kHead, kBody, kWorker };

    int fd = -1;
    SSL* tls = nullptr;
    bool is_handshaken = false;
    std::string peer_address;
    int peer_port = 0;
    std::string local_address;
    int local_port = 0;

    Phase phase = Phase::kIdle;
    Clock::time_point deadline;
    std::string input;                  // bytes read and not yet handled
    std::size_t request_end = 0;        // bytes of `input` that make the request read ahead
    std::size_t body_left_to_read = 0;  // for the worker: body bytes still on the socket
    std::size_t read_offset = 0;        // how far the library has read `input`
    std::size_t requests_served = 0;
    unsigned watched_events = 0;

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
    // Called by the library's accept loop for each accepted socket; hands it
    // to the event loop and returns at once.
    bool process_and_close_socket(socket_t sock) override;

    void EventLoop();
    void Admit(std::unique_ptr<Connection> connection);
    // Reads what the socket holds; returns false when the connection is to go.
    bool ReadAvailable(Connection& connection);
    // Moves a connection on after a read: to a worker when its request is here.
    bool Advance(Connection& connection);
    void Dispatch(Connection& connection);
    void Serve(Connection& connection);  // on a worker
    void Return(Connection& connection, bool keep);
    void Close(Connection& connection);
    void Watch(Connection& connection, unsigned events);

    ConnectionLimits limits_;
    SSL_CTX* tls_;
    int epoll_fd_ = -1;
    int wake_fd_ = -1;

    std::mutex mutex_;                                        // guards everything below
    std::map<int, std::unique_ptr<Connection>> connections_;  // by socket
    std::map<std::string, std::size_t> per_address_;
    std::vector<Connection*> arriving_;  // admitted or returned by a worker; the loop takes them
    std::size_t in_workers_ = 0;
    std::condition_variable workers_idle_;
    bool is_stopping_ = false;

    BoundedTaskQueue workers_;
    std::thread loop_;
};

namespace {

// Runs each task at once on the caller's thread: the accept loop's only task
// is to hand a socket to the event loop.
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

// What the event loop needs of a request's header block.
struct HeadFacts {
    bool has_valid_length = false;
    std::size_t content_length = 0;
    bool has_transfer_encoding = false;
    std::size_t expect_line_start = std::string::npos;  // of a "Expect: 100-continue" line
    std::size_t expect_line_length = 0;
};

HeadFacts ReadHeadFacts(const std::string& input, std::size_t head_end) {
    HeadFacts facts;
    std::size_t length_headers = 0;
    std::size_t line_start = input.find("\r\n") + 2;  // past the request line
    while (line_start < head_end - 2) {
        const std::size_t line_end = input.find("\r\n", line_start);
        const std::string line = input.substr(line_start, line_end - line_start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            const std::string name = host::FoldAsciiCase(line.substr(0, colon));
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            if (name == "content-length") {
                ++length_headers;
                facts.has_valid_length =
                    !value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string::npos;
                if (facts.has_valid_length) facts.content_length = std::stoull(value);
            } else if (name == "transfer-encoding") {
                facts.has_transfer_encoding = true;
            } else if (name == "expect" && host::FoldAsciiCase(value) == "100-continue") {
                facts.expect_line_start = line_start;
                facts.expect_line_length = line_end + 2 - line_start;
            }
        }
        line_start = line_end + 2;
    }
    facts.has_valid_length = facts.has_valid_length && length_headers == 1;
    return facts;
}

// Sends a short answer on a socket the loop still owns, without waiting.
void SendWithoutWaiting(int fd, const char* response) {
    [[maybe_unused]] const ssize_t sent = ::send(fd, response, std::strlen(response), MSG_NOSIGNAL | MSG_DONTWAIT);
}

constexpr char kTooManyConnections[] =
    "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char kHeadersTooLarge[] =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char kRequestTimeout[] = "HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

Clock::duration TimeFor(std::size_t bytes, std::size_t bytes_per_second) {
    return std::chrono::milliseconds(bytes * 1000 / std::max<std::size_t>(bytes_per_second, 1));
}

// One request's view of its connection for the library: reads come from what
// the loop read ahead, then from the socket until the read deadline; writes go
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
        NoteResponseHead(data, size);
        // The response's head waits for its body: a small page goes out in one send, not two.
        if (written_ == 0 && held_.size() + size <= kMaxHeldBytes) {
            held_.append(data, size);
            return static_cast<ssize_t>(size);
        }
        if (!Flush() || !SendAll(data, size)) return -1;
        return static_cast<ssize_t>(size);
    }

    // Sends what write() held back; false when the connection failed.
    bool Flush() {
        if (held_.empty()) return !has_failed_;
        const bool is_sent = SendAll(held_.data(), held_.size());
        held_.clear();
        return is_sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.peer_address;
        port = connection_.peer_port;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = connection_.local_address;
        port = connection_.local_port;
    }
    socket_t socket() const override { return connection_.fd; }

    bool HasFailed() const { return has_failed_; }
    // True when the response asked for the connection to close.
    bool ResponseCloses() const { return response_closes_; }

private:
    ssize_t Fail() {
        has_failed_ = true;
        return -1;
    }

    bool SendAll(const char* data, size_t size) {
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t result = Send(data + sent, size - sent);
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

    // Bytes sent, or -1 to wait for wait_events_, or 0 when the connection failed.
    ssize_t Send(const char* data, size_t size) {
        if (connection_.tls != nullptr) {
            const int sent = SSL_write(connection_.tls, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
            return sent > 0 ? sent : TlsRetry(sent) < 0 ? -1 : 0;
        }
        const ssize_t sent = ::send(connection_.fd, data, size, MSG_NOSIGNAL);
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

    // Watches the status line and headers of what is written for "Connection:
    // close"; an interim 1xx response is passed over.
    void NoteResponseHead(const char* data, size_t size) {
        if (is_head_seen_) return;
        head_.append(data, std::min(size, std::size_t{64 * 1024}));
        const std::size_t end = head_.find("\r\n\r\n");
        if (end == std::string::npos) return;
        const std::string head = host::FoldAsciiCase(head_.substr(0, end + 2));
        if (head.compare(0, 10, "http/1.1 1") == 0) {
            head_.erase(0, end + 4);
            return;
        }
        is_head_seen_ = true;
        response_closes_ = head.find("\r\nconnection: close\r\n") != std::string::npos;
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
    std::string head_;
    bool is_head_seen_ = false;
    bool response_closes_ = false;
};

}  // namespace

ConnectionServer::EventServer::EventServer(ConnectionLimits limits, SSL_CTX* tls)
    : limits_(limits),
      tls_(tls),
      epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      workers_(limits.worker_threads, limits.max_connections) {
    if (epoll_fd_ < 0 || wake_fd_ < 0) throw std::runtime_error("cannot set up the connection event loop");
    if (tls_ != nullptr) SSL_CTX_up_ref(tls_);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wake_fd_;
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &wake);
    new_task_queue = [] { return new InlineTaskQueue; };
    loop_ = std::thread([this] { EventLoop(); });
}

ConnectionServer::EventServer::~EventServer() {
    CloseConnections();
    ::close(wake_fd_);
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
            from_address < limits_.max_connections_per_address) {
            ++from_address;
            if (tls_ != nullptr) {
                connection->tls = SSL_new(tls_);
                SSL_set_fd(connection->tls, connection->fd);
                SSL_set_accept_state(connection->tls);
            }
            arriving_.push_back(connection.get());
            const int fd = connection->fd;
            connections_.emplace(fd, std::move(connection));
        } else if (from_address == 0) {
            per_address_.erase(connection->peer_address);
        }
    }
    if (connection) {
        // Refused: a plain-text answer means nothing inside TLS, so TLS clients just see the close.
        if (tls_ == nullptr) SendWithoutWaiting(connection->fd, kTooManyConnections);
        DBG::DebugLogEx(nullptr, 258, kConsoleLogSource, __LINE__, "connection from %s refused: too many connections",
                        connection->peer_address.c_str());
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(wake_fd_, &one, sizeof one);
}

void ConnectionServer::EventServer::Watch(Connection& connection, unsigned events) {
    if (connection.watched_events == events) return;
    epoll_event event{};
    event.events = events;
    event.data.fd = connection.fd;
    ::epoll_ctl(epoll_fd_, connection.watched_events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, connection.fd, &event);
    connection.watched_events = events;
}

void ConnectionServer::EventServer::EventLoop() {
    std::vector<epoll_event> events(64);
    for (;;) {
        const int ready = ::epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), 100);
        std::vector<Connection*> arriving;
        {
            const std::lock_guard lock(mutex_);
            if (is_stopping_) return;
            arriving.swap(arriving_);
        }
        for (Connection* connection : arriving) {
            Watch(*connection, EPOLLIN);
            if (!Advance(*connection)) Close(*connection);
        }
        for (int index = 0; index < ready; ++index) {
            const int fd = events[index].data.fd;
            if (fd == wake_fd_) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t drained = ::read(wake_fd_, &count, sizeof count);
                continue;
            }
            Connection* connection = nullptr;
            {
                const std::lock_guard lock(mutex_);
                const auto found = connections_.find(fd);
                if (found != connections_.end()) connection = found->second.get();
            }
            if (connection == nullptr || connection->phase == Connection::Phase::kWorker) continue;
            if (!ReadAvailable(*connection) || !Advance(*connection)) Close(*connection);
        }
        const Clock::time_point now = Clock::now();
        std::vector<Connection*> expired;
        {
            const std::lock_guard lock(mutex_);
            for (const auto& [fd, connection] : connections_) {
                if (connection->phase != Connection::Phase::kWorker && connection->deadline <= now) {
                    expired.push_back(connection.get());
                }
            }
        }
        for (Connection* connection : expired) {
            if (connection->phase != Connection::Phase::kIdle && connection->tls == nullptr) {
                SendWithoutWaiting(connection->fd, kRequestTimeout);
            }
            Close(*connection);
        }
    }
}

bool ConnectionServer::EventServer::ReadAvailable(Connection& connection) {
    if (connection.tls != nullptr && !connection.is_handshaken) {
        const int result = SSL_do_handshake(connection.tls);
        if (result != 1) {
            const int error = SSL_get_error(connection.tls, result);
            ERR_clear_error();
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                Watch(connection, error == SSL_ERROR_WANT_READ ? EPOLLIN : EPOLLOUT);
                return true;
            }
            return false;
        }
        connection.is_handshaken = true;
    }
    // A TLS read that had to wait for the socket to take a write watched for that; reading watches for input.
    Watch(connection, EPOLLIN);
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
                Watch(connection, EPOLLIN | EPOLLOUT);
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

bool ConnectionServer::EventServer::Advance(Connection& connection) {
    const Clock::time_point now = Clock::now();
    if (connection.phase == Connection::Phase::kIdle) {
        if (connection.input.empty()) return true;
        connection.phase = Connection::Phase::kHead;
        connection.deadline = now + limits_.header_timeout;
    }
    if (connection.phase == Connection::Phase::kHead) {
        const std::size_t blank_line = connection.input.find("\r\n\r\n");
        if (blank_line == std::string::npos) {
            if (connection.input.size() <= limits_.max_header_bytes) return true;
            if (connection.tls == nullptr) SendWithoutWaiting(connection.fd, kHeadersTooLarge);
            return false;
        }
        const std::size_t head_end = blank_line + 4;
        const HeadFacts facts = ReadHeadFacts(connection.input, head_end);
        const bool reads_ahead = facts.has_valid_length && !facts.has_transfer_encoding &&
                                 facts.content_length <= std::min(limits_.max_body_bytes, kMaxBodyReadAhead);
        connection.body_left_to_read = 0;
        if (!reads_ahead) {
            // The screening refuses it, or a worker reads the large body after the session check.
            if (facts.has_valid_length && !facts.has_transfer_encoding) {
                connection.body_left_to_read = facts.content_length;
            }
            connection.request_end = head_end;
            Dispatch(connection);
            return true;
        }
        connection.request_end = head_end + facts.content_length;
        connection.phase = Connection::Phase::kBody;
        connection.deadline =
            now + limits_.header_timeout + TimeFor(facts.content_length, limits_.min_bytes_per_second);
        if (facts.expect_line_start != std::string::npos && connection.input.size() < connection.request_end) {
            // The client waits for this before it sends the body; the library must not send it again.
            connection.input.erase(facts.expect_line_start, facts.expect_line_length);
            connection.request_end -= facts.expect_line_length;
            if (connection.tls == nullptr) {
                SendWithoutWaiting(connection.fd, kContinue);
            } else {
                SSL_write(connection.tls, kContinue, static_cast<int>(sizeof kContinue - 1));
            }
        }
    }
    // The rest of a body still on the socket makes it readable again.
    if (connection.phase == Connection::Phase::kBody && connection.input.size() >= connection.request_end) {
        Dispatch(connection);
    }
    return true;
}

void ConnectionServer::EventServer::Dispatch(Connection& connection) {
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, connection.fd, nullptr);
    connection.watched_events = 0;
    connection.read_offset = 0;
    {
        const std::lock_guard lock(mutex_);
        connection.phase = Connection::Phase::kWorker;
        ++in_workers_;
    }
    workers_.Enqueue([this, &connection] { Serve(connection); });
}

void ConnectionServer::EventServer::Serve(Connection& connection) {
    ConnectionStream stream(connection, limits_);
    bool is_closed_by_request = false;
    const bool is_last = ++connection.requests_served >= limits_.max_requests_per_connection;
    const bool is_processed = process_request(stream, is_last, is_closed_by_request, nullptr);
    const bool is_answered = stream.Flush() && is_processed;
    Return(connection,
           is_answered && !is_last && !is_closed_by_request && !stream.HasFailed() && !stream.ResponseCloses());
}

void ConnectionServer::EventServer::Return(Connection& connection, bool keep) {
    bool is_closing = !keep;
    bool is_read_ahead = false;
    {
        // Under the lock: the loop's deadline scan reads the phase and the deadline.
        const std::lock_guard lock(mutex_);
        is_closing = is_closing || is_stopping_;
        if (!is_closing) {
            // What follows the request is the start of the next one.
            connection.input.erase(0, connection.read_offset);
            connection.read_offset = 0;
            connection.body_left_to_read = 0;
            connection.phase = Connection::Phase::kIdle;
            connection.deadline = Clock::now() + limits_.keep_alive_timeout;
            is_read_ahead = !connection.input.empty() || connection.tls != nullptr;
            if (is_read_ahead) {
                arriving_.push_back(&connection);
            } else {
                connection.watched_events = EPOLLIN;
            }
        }
    }
    if (is_closing) {
        Close(connection);
    } else if (is_read_ahead) {
        // Bytes already read (or held by TLS) raise no event: the loop must look at them itself.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t woken = ::write(wake_fd_, &one, sizeof one);
    } else {
        // Watched again straight from here: the loop is not woken for a connection that has nothing to read yet.
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = connection.fd;
        ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, connection.fd, &event);
    }
    const std::lock_guard lock(mutex_);
    if (--in_workers_ == 0) workers_idle_.notify_all();
}

void ConnectionServer::EventServer::Close(Connection& connection) {
    std::unique_ptr<Connection> closing;
    {
        const std::lock_guard lock(mutex_);
        const auto found = connections_.find(connection.fd);
        if (found == connections_.end()) return;
        closing = std::move(found->second);
        connections_.erase(found);
        const auto count = per_address_.find(closing->peer_address);
        if (count != per_address_.end() && --count->second == 0) per_address_.erase(count);
    }
    // Destroyed outside the lock: closing the socket may wait for TLS.
}

void ConnectionServer::EventServer::CloseConnections() {
    {
        std::unique_lock lock(mutex_);
        is_stopping_ = true;
        workers_idle_.wait(lock, [this] { return in_workers_ == 0; });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(wake_fd_, &one, sizeof one);
    if (loop_.joinable()) loop_.join();
    workers_.Shutdown();
    std::map<int, std::unique_ptr<Connection>> remaining;
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
