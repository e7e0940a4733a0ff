// Request heads over a raw socket: what RFC 9112 refuses is answered and the
// connection closes, so nothing hidden behind a bad head is ever served.
#include "web_fixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

namespace tessera::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Reply {
    std::string bytes;
    bool is_closed = false;  // the console closed the connection after it
};

// Sends `request` and reads until the console closes the connection or 5 s pass.
Reply SendAndReadToClose(int port, const std::string& request) {
    const int fd = ConnectFrom("127.0.0.1", port);
    [[maybe_unused]] const ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    Reply reply;
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0) continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            reply.is_closed = true;
            break;
        }
        reply.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

std::size_t CountOf(const std::string& text, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

TEST(RequestHeads, WhatTheHttpGrammarRefusesIsAnsweredOnceAndClosesTheConnection) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(console.Port()) + "\r\n";
    // Signed in, and so served if it were read as a request of its own.
    const std::string hidden =
        "GET /scan/WebThreat_Protection.htm HTTP/1.1\r\n" + host + "Cookie: " + cookie + "\r\n\r\n";
    const std::string sign_in_body = "username=admin&password=x";
    const struct {
        const char* what;
        std::string head;
        int status;
    } cases[] = {
        {"a query alone as the target, expecting 100-continue", "GET ? HTTP/1.1\r\nExpect: 100-continue\r\n\r\n", 400},
        {"a Content-Length of 15 digits", "POST /login HTTP/1.1\r\n" + host + "Content-Length: 123456789012345\r\n\r\n",
         413},
        {"a Content-Length of 18 digits",
         "POST /login HTTP/1.1\r\n" + host + "Content-Length: 123456789012345678\r\n\r\n", 413},
        {"a Content-Length of 30 digits",
         "POST /login HTTP/1.1\r\n" + host + "Content-Length: " + std::string(30, '9') + "\r\n\r\n", 413},
        {"a Content-Length with a sign", "POST /login HTTP/1.1\r\n" + host + "Content-Length: +5\r\n\r\n", 400},
        {"two Content-Lengths", "POST /login HTTP/1.1\r\n" + host + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n",
         400},
        {"a Content-Length and a Transfer-Encoding",
         "POST /login HTTP/1.1\r\n" + host + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
        {"a blank before the colon", "GET / HTTP/1.1\r\n" + host + "Transfer-Encoding : chunked\r\n\r\n", 400},
        {"a folded header line", "GET / HTTP/1.1\r\n" + host + "X-Note: a\r\n  b\r\n\r\n", 400},
        {"a bare CR", "GET / HTTP/1.1\r\n" + host + "X-Note: a\rb\r\n\r\n", 400},
        {"a NUL in a header", "GET / HTTP/1.1\r\n" + host + std::string("X-Note: a\0b\r\n\r\n", 14), 400},
        {"a line without a colon", "GET / HTTP/1.1\r\n" + host + "X-Note\r\n\r\n", 400},
        {"two Host headers", "GET / HTTP/1.1\r\n" + host + "Host: example.org\r\n\r\n", 400},
        {"no Host header", "GET / HTTP/1.1\r\n\r\n", 400},
        {"a sign-in whose Content-Length comes after a bare LF",
         "POST /login HTTP/1.1\r\n" + host + "X-Note: a\nContent-Length: " + std::to_string(sign_in_body.size()) +
             "\r\n\r\n",
         400},
        {"two spaces in the request line", "GET  / HTTP/1.1\r\n" + host + "\r\n", 400},
        {"a version in small letters", "GET / http/1.1\r\n" + host + "\r\n", 400},
        {"HTTP/2.0", "GET / HTTP/2.0\r\n" + host + "\r\n", 505},
        {"a target that is no path", "GET login HTTP/1.1\r\n" + host + "\r\n", 400},
    };
    for (const auto& each : cases) {
        const Reply reply = SendAndReadToClose(console.Port(), each.head + hidden);
        EXPECT_EQ(RawStatus(reply.bytes), each.status) << each.what;
        EXPECT_TRUE(reply.is_closed) << each.what;
        EXPECT_EQ(CountOf(reply.bytes, "\r\nDate: "), 1u) << each.what << ": something after it was served";
        EXPECT_FALSE(RawHeader(reply.bytes, "Date").empty()) << each.what;
    }
    EXPECT_EQ(RawStatus(console.Exchange("GET /login HTTP/1.1")), 200) << "the console serves on";
}

TEST(RequestHeads, ValidHeadsAreServedWithADateAndNoRanges) {
    ConsoleServer console(WithFakePlugin());
    const std::string cookie = console.SignIn();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(console.Port()) + "\r\n";
    const std::string session = "Cookie: " + cookie + "\r\n";

    // A Range is ignored: the whole page, and nothing says that parts are served.
    const Reply ranged = SendAndReadToClose(
        console.Port(), "GET /big.htm HTTP/1.1\r\n" + host + session + "Range: bytes=0-1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(RawStatus(ranged.bytes), 200);
    EXPECT_EQ(RawHeader(ranged.bytes, "Content-Range"), "");
    EXPECT_EQ(RawBody(ranged.bytes), std::string(200000, 'a'));
    const Reply head =
        SendAndReadToClose(console.Port(), "HEAD /login HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n");
    EXPECT_EQ(RawStatus(head.bytes), 200);
    EXPECT_EQ(RawHeader(head.bytes, "Accept-Ranges"), "");

    // An absolute-form target is the origin-form one, for the host it names.
    const Reply absolute = SendAndReadToClose(console.Port(), "GET http://127.0.0.1:" + std::to_string(console.Port()) +
                                                                  "/echo.htm HTTP/1.1\r\nHost: elsewhere.example\r\n" +
                                                                  session + "Connection: close\r\n\r\n");
    EXPECT_EQ(RawStatus(absolute.bytes), 200) << absolute.bytes.substr(0, 300);

    // A refusal that closes says so, and only so.
    const Reply refused = SendAndReadToClose(console.Port(), "PUT /echo.htm HTTP/1.1\r\n" + host + "\r\n");
    EXPECT_EQ(RawStatus(refused.bytes), 405);
    EXPECT_EQ(RawHeader(refused.bytes, "Connection"), "close");
    EXPECT_EQ(RawHeader(refused.bytes, "Keep-Alive"), "");
    EXPECT_TRUE(refused.is_closed);

    // Two requests in one send, the first after an empty line, are both answered on the connection.
    const Reply pipelined =
        SendAndReadToClose(console.Port(), "\r\nGET /login HTTP/1.1\r\n" + host + "\r\nGET /login HTTP/1.1\r\n" + host +
                                               "Connection: close\r\n\r\n");
    EXPECT_EQ(CountOf(pipelined.bytes, "HTTP/1.1 200 "), 2u);
    EXPECT_EQ(CountOf(pipelined.bytes, "\r\nDate: "), 2u);
}

TEST(RequestHeads, ASignedInPageStaysQuickWhileSixteenBadSignInsAreOpen) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(console.Port()) + "\r\n";
    // Each head hides its Content-Length behind a bare LF and sends no body.
    std::vector<int> stalling;
    for (int i = 0; i < 16; ++i) {
        stalling.push_back(ConnectFrom("127.0.0.1", console.Port()));
        const std::string head = "POST /login HTTP/1.1\r\n" + host + "X-Note: a\nContent-Length: 100\r\n\r\n";
        [[maybe_unused]] const ssize_t sent = ::send(stalling.back(), head.data(), head.size(), MSG_NOSIGNAL);
    }
    // Below the console's 10 s header deadline, which is what a thread held by one of them would wait.
    for (int load = 0; load < 8; ++load) {
        const auto start = Clock::now();
        const std::string page = console.Exchange("GET /scan/WebThreat_Protection.htm HTTP/1.1", {"Cookie: " + cookie});
        EXPECT_EQ(RawStatus(page), 200);
        EXPECT_LT(Clock::now() - start, 5s) << "load " << load;
    }
    for (const int fd : stalling) ::close(fd);
}

}  // namespace
}  // namespace tessera::test
