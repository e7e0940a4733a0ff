// The strict reading of a request head.
#include "request_head.h"

#include "text_util.h"

#include <algorithm>

namespace tessera::console {
namespace {

constexpr std::size_t kMaxLeadingEmptyLines = 8;

bool IsTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return IsTokenChar(c); });
}

// VCHAR, obs-text, space and TAB: what a field value may hold.
bool IsFieldValue(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte != 0x7f);
    });
}

bool IsTargetText(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
}

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

RequestHead Refused(int status, const char* reason) {
    RequestHead head;
    head.state = RequestHead::State::kRefused;
    head.refusal_status = status;
    head.refusal_reason = reason;
    return head;
}

// An absolute-form target split into its authority and its path and query.
struct AbsoluteTarget {
    bool is_absolute = false;
    std::string_view authority;
    std::string_view origin_form;  // empty: "/"
};

AbsoluteTarget SplitAbsoluteTarget(std::string_view target) {
    AbsoluteTarget split;
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (target.size() > scheme.size() && host::EqualsIgnoringAsciiCase(target.substr(0, scheme.size()), scheme)) {
            const std::string_view rest = target.substr(scheme.size());
            const std::size_t path = rest.find_first_of("/?");
            split.is_absolute = true;
            split.authority = rest.substr(0, path);
            if (path != std::string_view::npos) split.origin_form = rest.substr(path);
        }
    }
    return split;
}

// Scans the bytes after `checked_bytes` for the blank line that ends the
// head and for bytes no head may hold. Returns the head's length, 0 while it
// is incomplete, or npos for a bad byte.
std::size_t ScanForHeadEnd(std::string_view input, std::size_t start, std::size_t& checked_bytes) {
    for (std::size_t index = std::max(checked_bytes, start); index < input.size(); ++index) {
        const char c = input[index];
        if (c == '\0') return std::string_view::npos;
        if (c == '\r') {
            if (index + 1 == input.size()) break;  // its LF may be on the way
            if (input[index + 1] != '\n') return std::string_view::npos;
        } else if (c == '\n') {
            if (index == start || input[index - 1] != '\r') return std::string_view::npos;
            if (index >= start + 3 && input.compare(index - 3, 4, "\r\n\r\n") == 0) return index + 1;
        }
        checked_bytes = index + 1;
    }
    return 0;
}

}  // namespace

RequestHead ReadRequestHead(std::string_view input, const RequestHeadLimits& limits, std::size_t& checked_bytes) {
    std::size_t start = 0;
    for (std::size_t lines = 0; input.compare(start, 2, "\r\n") == 0; ++lines) {
        if (lines == kMaxLeadingEmptyLines) return Refused(400, "The request begins with too many empty lines.");
        start += 2;
    }
    const std::size_t head_end = ScanForHeadEnd(input, start, checked_bytes);
    if (head_end == std::string_view::npos) {
        return Refused(400, "The request head holds a NUL, or a CR or LF that is not part of a CRLF line end.");
    }
    const std::size_t line_end = input.find("\r\n", start);
    if ((line_end == std::string_view::npos ? input.size() : line_end) - start > limits.max_request_line_bytes) {
        return Refused(414, "The request line is too long.");
    }
    if (head_end == 0) {
        if (input.size() - start > limits.max_head_bytes) return Refused(431, "The request headers are too large.");
        return RequestHead{};
    }
    if (head_end - start > limits.max_head_bytes) return Refused(431, "The request headers are too large.");

    // The request line: method SP request-target SP HTTP-version, single spaces.
    const std::string_view request_line = input.substr(start, line_end - start);
    const std::size_t first_space = request_line.find(' ');
    const std::size_t second_space =
        first_space == std::string_view::npos ? first_space : request_line.find(' ', first_space + 1);
    if (second_space == std::string_view::npos) return Refused(400, "The request line is not valid.");
    const std::string_view method = request_line.substr(0, first_space);
    const std::string_view target = request_line.substr(first_space + 1, second_space - first_space - 1);
    const std::string_view version = request_line.substr(second_space + 1);
    if (!IsToken(method) || !IsTargetText(target)) return Refused(400, "The request line is not valid.");
    if (version.size() != 8 || version.compare(0, 5, "HTTP/") != 0 || version[6] != '.' ||
        !IsDigits(version.substr(5, 1)) || !IsDigits(version.substr(7, 1))) {
        return Refused(400, "The request line is not valid.");
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Refused(505, "Only HTTP/1.0 and HTTP/1.1 are served.");
    const AbsoluteTarget absolute = SplitAbsoluteTarget(target);
    const bool is_asterisk = target == "*" && method == "OPTIONS";
    if (target.front() != '/' && !absolute.is_absolute && !is_asterisk) {
        return Refused(400, "The request target is not a path.");
    }
    if (absolute.is_absolute && absolute.authority.empty()) return Refused(400, "The request target names no host.");

    RequestHead head;
    head.state = RequestHead::State::kComplete;
    head.head_bytes = head_end;
    // The head handed on is the input's own until a line must go: from then
    // on it is built in `rewritten`, which holds the input up to copied_up_to.
    bool is_rewriting = start > 0 || absolute.is_absolute;
    std::size_t copied_up_to = start;
    if (absolute.is_absolute) {
        head.rewritten.append(method).append(" ");
        head.rewritten.append(absolute.origin_form.empty() ? std::string_view("/") : absolute.origin_form);
        head.rewritten.append(" ").append(version).append("\r\nHost: ").append(absolute.authority).append("\r\n");
        copied_up_to = line_end + 2;
    }
    std::size_t host_lines = 0;
    std::size_t length_lines = 0;
    for (std::size_t line_start = line_end + 2; line_start < head_end - 2;) {
        const std::size_t next_end = input.find("\r\n", line_start);
        const std::string_view line = input.substr(line_start, next_end - line_start);
        const std::size_t next_start = next_end + 2;
        if (line.front() == ' ' || line.front() == '\t') {
            return Refused(400, "A header line begins with a blank: line folding is not accepted.");
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return Refused(400, "A header line holds no colon.");
        const std::string_view name = line.substr(0, colon);
        if (!IsToken(name)) return Refused(400, "A header name is not valid (a blank before the colon, perhaps).");
        const std::string_view value = host::TrimmedBlanks(line.substr(colon + 1));
        if (!IsFieldValue(value)) return Refused(400, "A header value holds a control character.");

        bool is_kept = true;
        if (host::EqualsIgnoringAsciiCase(name, "host")) {
            ++host_lines;
            is_kept = !absolute.is_absolute;  // the target's authority stands in its place
        } else if (host::EqualsIgnoringAsciiCase(name, "content-length")) {
            ++length_lines;
            if (!IsDigits(value)) return Refused(400, "The Content-Length is not valid.");
            const std::string_view digits = value.substr(std::min(value.find_first_not_of('0'), value.size() - 1));
            if (digits.size() > 18 || std::stoull(std::string(digits)) > limits.max_body_bytes) {
                return Refused(413, "The request body is larger than this console takes.");
            }
            head.has_content_length = true;
            head.content_length = std::stoull(std::string(digits));
        } else if (host::EqualsIgnoringAsciiCase(name, "transfer-encoding")) {
            head.has_transfer_encoding = true;
        } else if (host::EqualsIgnoringAsciiCase(name, "x-forwarded-for")) {
            const std::size_t comma = value.rfind(',');
            head.forwarded_for = host::TrimmedBlanks(comma == std::string_view::npos ? value : value.substr(comma + 1));
        } else if (host::EqualsIgnoringAsciiCase(name, "range")) {
            is_kept = false;
        } else if (host::EqualsIgnoringAsciiCase(name, "expect") &&
                   host::EqualsIgnoringAsciiCase(value, "100-continue")) {
            head.expect_line_start = is_rewriting ? head.rewritten.size() + (line_start - copied_up_to) : line_start;
            head.expect_line_bytes = next_start - line_start;
        }
        if (!is_kept) {
            head.rewritten.append(input.substr(copied_up_to, line_start - copied_up_to));
            copied_up_to = next_start;
            is_rewriting = true;
        }
        line_start = next_start;
    }
    if (is_rewriting) head.rewritten.append(input.substr(copied_up_to, head_end - copied_up_to));

    if (version == "HTTP/1.1" ? host_lines != 1 : host_lines > 1) {
        return Refused(400, "An HTTP/1.1 request names its host in exactly one Host header.");
    }
    if (length_lines > 1) return Refused(400, "The request has more than one Content-Length.");
    if (head.has_transfer_encoding && head.has_content_length) {
        return Refused(400, "The request has both a Content-Length and a Transfer-Encoding.");
    }
    return head;
}

}  // namespace tessera::console
