// The Date and the close of every response head.
#include "response_head.h"

#include "text_util.h"

#include <ctime>

namespace tessera::console {
namespace {

bool HasName(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           host::EqualsIgnoringAsciiCase(line.substr(0, name.size()), name);
}

}  // namespace

const char* ReasonPhrase(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
    case 422:
        return "Unprocessable Content";
    case 428:
        return "Precondition Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return status >= 500 ? "Server Error" : "Request Refused";
    }
}

std::string HttpDate(std::chrono::system_clock::time_point time) {
    // Each thread breaks a second down once: pages of the same second share it.
    thread_local std::time_t t_seconds = -1;
    thread_local char t_text[32] = {};
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    if (seconds != t_seconds) {
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        std::strftime(t_text, sizeof t_text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
        t_seconds = seconds;
    }
    return t_text;
}

FinishedHead FinishResponseHead(std::string_view head, std::chrono::system_clock::time_point now) {
    FinishedHead finished;
    const std::size_t status_end = head.find("\r\n");
    if (head.size() < 12 || status_end == std::string_view::npos || head.compare(0, 9, "HTTP/1.1 ") != 0 ||
        head[9] == '1') {
        finished.text.assign(head);
        finished.is_interim = head.compare(0, 10, "HTTP/1.1 1") == 0;
        return finished;
    }
    finished.closes = head.compare(9, 3, "400") == 0;
    bool says_close = false;
    for (std::size_t start = status_end + 2; start + 2 <= head.size();) {
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos || end == start) break;
        const std::string_view line = head.substr(start, end - start);
        if (HasName(line, "connection") &&
            host::EqualsIgnoringAsciiCase(host::TrimmedBlanks(line.substr(11)), "close")) {
            says_close = true;
        }
        start = end + 2;
    }
    finished.closes = finished.closes || says_close;

    finished.text.reserve(head.size() + 64);
    finished.text.append(head.substr(0, status_end + 2));
    finished.text.append("Date: ").append(HttpDate(now)).append("\r\n");
    for (std::size_t start = status_end + 2; start + 2 <= head.size();) {
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos || end == start) break;
        const std::string_view line = head.substr(start, end - start);
        const bool is_dropped =
            HasName(line, "date") || HasName(line, "accept-ranges") || (finished.closes && HasName(line, "keep-alive"));
        if (!is_dropped) finished.text.append(line).append("\r\n");
        start = end + 2;
    }
    if (finished.closes && !says_close) finished.text.append("Connection: close\r\n");
    finished.text.append("\r\n");
    return finished;
}

std::string RefusalResponse(int status, std::string_view reason, std::string_view header_lines,
                            std::chrono::system_clock::time_point now) {
    std::string body(reason);
    if (!body.empty()) body += '\n';
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    response.append("Date: ").append(HttpDate(now)).append("\r\n");
    if (status == 503) response.append("Retry-After: 5\r\n");
    response.append(header_lines);
    if (!body.empty()) response.append("Content-Type: text/plain; charset=utf-8\r\n");
    response.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    response.append("Connection: close\r\n\r\n").append(body);
    return response;
}

}  // namespace tessera::console
