// What the connection layer adds to every response head the HTTP library
// writes: the Date, and a close that the head says out loud.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace tessera::console {

// The reason phrase of `status`, as RFC 9110 names it.
const char* ReasonPhrase(int status);

// `time` as an HTTP date (IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::chrono::system_clock::time_point time);

struct FinishedHead {
    std::string text;
    bool closes = false;      // the connection closes after this response
    bool is_interim = false;  // a 1xx head: the final head is still to come
};

// `head` (a status line, header lines and the blank line) with a Date line
// after the status line, no Accept-Ranges line (no page is served in
// parts), and, when the response closes the connection, "Connection: close"
// and no Keep-Alive line. A response closes it when its head says so or when
// its status is 400: what follows a request that could not be read is not a
// request. An interim (1xx) head comes back unchanged.
FinishedHead FinishResponseHead(std::string_view head, std::chrono::system_clock::time_point now);

// A whole short response the connection layer sends itself, for a request
// it refuses before the HTTP library reads it: plain text, closing, with
// `header_lines` ("Name: value\r\n" each) among its headers.
std::string RefusalResponse(int status, std::string_view reason, std::string_view header_lines,
                            std::chrono::system_clock::time_point now);

}  // namespace tessera::console
