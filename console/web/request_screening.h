// Checks every request passes before any handler runs: the limits the HTTP
// library leaves open, and the cross-site protection.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
}  // namespace httplib

namespace tessera::console {

struct RouteSpec;

struct ScreeningSettings {
    bool is_tls = false;
    std::size_t max_body_bytes = 0;  // set from the console's limit
    std::string listen_host;         // as configured, e.g. "127.0.0.1"
    int listen_port = 0;             // the bound port
};

struct Refusal {
    int status = 400;
    std::string reason;  // one plain sentence for the error page
    std::vector<std::pair<std::string, std::string>> headers;
};

inline constexpr std::size_t kMaxRequestHeaders = 100;
inline constexpr std::size_t kMaxRequestHeaderBytes = 32 * 1024;

// The first rule `request` breaks, or null. In order:
// - a method other than GET, HEAD and POST (and PUT and PATCH under the
//   API's prefix): 405;
// - a GET or HEAD with a form action query field (any letter case), for the
//   import or export page, or for a route that takes only POST (sign-out,
//   restore): 405 with Allow: POST, so that nothing changes by a link or an
//   image;
// - more than kMaxRequestHeaders headers or kMaxRequestHeaderBytes in all: 431;
// - any Transfer-Encoding: 411 (the library's body limit does not apply to
//   chunked bodies);
// - any Content-Encoding: 415 (the library would inflate it without a limit);
// - a POST without one decimal Content-Length: 411 (missing; an API request
//   without one has no body) or 400; over the body limit: 413, before a byte
//   of the body is read; a GET or HEAD with a body: 400;
// - no Host, or, while listening on a loopback address, a Host that is not a
//   loopback name: 400 or 421 (a page elsewhere cannot reach the console by
//   pointing its own host name at this machine);
// - Sec-Fetch-Site "cross-site", except a GET or HEAD navigation to an entry
//   route (the console's address, the sign-in page): 403;
// - a POST (PUT, PATCH) whose Origin, or Referer when there is no Origin, is
//   missing or is not this console: 403; but for an API request that carries
//   a token or no cookie, which no other site's page can forge.
// A refused request's body is left unread, so every refusal closes the connection.
// `route` is the request's, found once for every phase.
std::optional<Refusal> ScreenRequest(const httplib::Request& request, const RouteSpec& route,
                                     const ScreeningSettings& settings);

// True when the console listens on a loopback address ("localhost", 127.x.y.z, "::1").
bool IsLoopbackListenHost(const std::string& listen_host);

// True when `origin` ("scheme://host[:port]", or a whole URL such as a
// Referer) has this console's scheme (https when it speaks TLS, else http) and
// the host and port of `host_header`, or of the configured listen address.
// Host names compare without regard to case; a missing port is the scheme's.
bool IsOwnOrigin(const std::string& origin, const std::string& host_header, const ScreeningSettings& settings);

}  // namespace tessera::console
