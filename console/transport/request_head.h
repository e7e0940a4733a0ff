// A request's head as the connection layer reads it, before the HTTP library
// or any handler sees it: the grammar of RFC 9112 checked strictly, so that
// what this console reads is what any proxy in front of it reads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessera::console {

struct RequestHeadLimits {
    std::size_t max_head_bytes = 64 * 1024;         // request line, header lines and the blank line
    std::size_t max_request_line_bytes = 8 * 1024;  // beyond it: 414
    std::size_t max_body_bytes = 64u << 20;         // a Content-Length beyond it: 413
};

struct RequestHead {
    enum class State { kIncomplete, kComplete, kRefused };
    State state = State::kIncomplete;

    // kRefused: the status to answer with (400, 413, 414, 431, 501 or 505),
    // one plain sentence why, and the connection closes after it.
    int refusal_status = 0;
    const char* refusal_reason = "";

    // kComplete:
    std::size_t head_bytes = 0;  // of the input, blank line included
    bool has_content_length = false;
    std::size_t content_length = 0;  // at most max_body_bytes
    bool has_transfer_encoding = false;
    // The head to hand on, when it differs from the input's: an absolute-form
    // target made origin-form (its authority becomes the Host), and every
    // Range header left out, as a server may (pages are not served in parts).
    std::string rewritten;
    // The last element of the X-Forwarded-For lines, as the nearest proxy
    // appended it (unchecked); empty when there is none.
    std::string forwarded_for;
    // Of an "Expect: 100-continue" line, in the head handed on; npos: none.
    std::size_t expect_line_start = std::string::npos;
    std::size_t expect_line_bytes = 0;
};

// Reads the request head at the start of `input`, which holds the bytes
// received so far. kIncomplete while the blank line has not arrived and
// nothing seen so far is wrong; a byte that no head may hold (NUL, a CR
// without its LF, an LF without its CR) is refused as soon as it arrives.
// Refused, each with 400 unless said: a request line that is not
// "METHOD SP target SP HTTP/1.x" with single spaces (an HTTP version other
// than 1.0 and 1.1: 505; longer than max_request_line_bytes: 414); a target
// that is neither origin-form ("/..."), nor absolute-form with http or https,
// nor "*" for OPTIONS; a header line that begins with a blank (obs-fold),
// holds no colon, has a blank or a character outside a token before its
// colon, or a control character in its value; an HTTP/1.1 request without
// exactly one Host (HTTP/1.0: more than one); more than one Content-Length,
// or one that is not decimal digits (beyond max_body_bytes: 413);
// Transfer-Encoding beside Content-Length; a head over max_head_bytes (431).
// Empty lines before the request line are skipped, as RFC 9112 asks.
// `checked_bytes` carries what earlier calls on the same head found in
// order, so a head that trickles in a byte at a time is scanned once: start
// it at 0 for each head.
RequestHead ReadRequestHead(std::string_view input, const RequestHeadLimits& limits, std::size_t& checked_bytes);

}  // namespace tessera::console
