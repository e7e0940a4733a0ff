// Checks every request passes before any handler runs.
#include "request_screening.h"

#include "hosted_pages.h"
#include "os_string.h"
#include "routes.h"
#include "text_util.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace tessera::console {
namespace {

struct Authority {
    std::string host;  // lower case; an IPv6 address keeps its brackets
    int port = 0;      // 0: the scheme's default
};

bool IsDecimal(const std::string& text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "host", "host:port", "[v6]" or "[v6]:port"; null for anything else.
std::optional<Authority> ParseAuthority(const std::string& text) {
    Authority authority;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return std::nullopt;
        authority.host = text.substr(0, close + 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return std::nullopt;
            port = text.substr(close + 2);
        }
    } else {
        const std::size_t colon = text.find(':');
        authority.host = text.substr(0, colon);
        if (colon != std::string::npos) port = text.substr(colon + 1);
    }
    if (authority.host.empty() || authority.host.find_first_of(" /?#@\\") != std::string::npos) return std::nullopt;
    if (!port.empty()) {
        if (!IsDecimal(port) || port.size() > 5) return std::nullopt;
        authority.port = std::stoi(port);
    }
    authority.host = host::FoldAsciiCase(authority.host);
    return authority;
}

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

Refusal Refuse(int status, std::string reason) { return Refusal{status, std::move(reason), {}}; }

// A GET or HEAD that would change something if it reached a handler: a form
// action in the query, the import or export page, or signing out. An <img> on
// another port of the same host can send such a GET with the session cookie.
bool WouldChangeState(const httplib::Request& request, const RouteSpec& route) {
    if (IsChangeRoute(route)) return true;
    if (!request.path.empty() && IsActionPage(OS::FromUtf8(request.path.substr(1)))) return true;
    return std::any_of(request.params.begin(), request.params.end(),
                       [](const auto& param) { return host::FoldAsciiCase(param.first) == FoldedFormActionField(); });
}

}  // namespace

bool IsLoopbackListenHost(const std::string& listen_host) {
    return IsLoopbackHost(host::FoldAsciiCase(listen_host)) || listen_host == "::1";
}

bool IsOwnOrigin(const std::string& origin, const std::string& host_header, const ScreeningSettings& settings) {
    const std::string scheme = settings.is_tls ? "https://" : "http://";
    const int default_port = settings.is_tls ? 443 : 80;
    if (host::FoldAsciiCase(origin.substr(0, scheme.size())) != scheme) return false;
    const std::string rest = origin.substr(scheme.size());
    const std::optional<Authority> claimed = ParseAuthority(rest.substr(0, rest.find_first_of("/?#")));
    if (!claimed) return false;
    const int claimed_port = claimed->port == 0 ? default_port : claimed->port;
    const std::optional<Authority> addressed = ParseAuthority(host_header);
    if (addressed && claimed->host == addressed->host &&
        claimed_port == (addressed->port == 0 ? default_port : addressed->port)) {
        return true;
    }
    const std::optional<Authority> listening = ParseAuthority(
        settings.listen_host.find(':') != std::string::npos ? "[" + settings.listen_host + "]" : settings.listen_host);
    return listening && claimed->host == listening->host && claimed_port == settings.listen_port;
}

std::optional<Refusal> ScreenRequest(const httplib::Request& request, const RouteSpec& route,
                                     const ScreeningSettings& settings) {
    const bool is_post = SendsBody(request.method);
    const bool is_api = route.methods == Methods::kApi;
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST" && !(is_api && is_post)) {
        Refusal refusal = Refuse(405, "This method is not served.");
        refusal.headers.emplace_back("Allow", AllowedMethods(route));
        return refusal;
    }

    if (!is_post && WouldChangeState(request, route)) {
        Refusal refusal = Refuse(405, "This page changes settings and takes only a form sent with POST.");
        refusal.headers.emplace_back("Allow", "POST");
        return refusal;
    }

    std::size_t header_bytes = 0;
    for (const auto& header : request.headers) header_bytes += header.first.size() + header.second.size() + 4;
    if (request.headers.size() > kMaxRequestHeaders || header_bytes > kMaxRequestHeaderBytes) {
        return Refuse(431, "The request headers are too large.");
    }

    if (request.has_header("Transfer-Encoding")) {
        return Refuse(411, "A request body must come with a Content-Length and without a Transfer-Encoding.");
    }
    // The page's script sends a large form gzip-compressed; the form limits
    // count its bytes as decoded, so a small body cannot expand past them.
    if (request.has_header("Content-Encoding") &&
        host::FoldAsciiCase(request.get_header_value("Content-Encoding")) != "gzip") {
        return Refuse(415, "A request body may be gzip-compressed, and compressed no other way.");
    }

    const std::size_t length_count = request.get_header_value_count("Content-Length");
    const std::string length_text = request.get_header_value("Content-Length");
    if (is_post) {
        // A request without either header has no body (RFC 9112 6.3); a form must say so.
        if (length_count == 0 && !is_api) return Refuse(411, "A request body must come with a Content-Length.");
        if (length_count > 1 || (length_count == 1 && !IsDecimal(length_text))) {
            return Refuse(400, "The Content-Length is not valid.");
        }
        if (length_count == 1 && std::stoull(length_text) > settings.max_body_bytes) {
            return Refuse(413, "The request body is larger than " + std::to_string(settings.max_body_bytes) +
                                   " bytes, the most this console takes (serve --max-body).");
        }
    } else if (length_count > 0 && length_text != "0") {
        return Refuse(400, "This request cannot carry a body.");
    }

    if (!request.has_header("Host")) return Refuse(400, "The request names no host.");
    const std::string host_header = request.get_header_value("Host");
    const std::optional<Authority> addressed = ParseAuthority(host_header);
    if (!addressed) return Refuse(400, "The Host header is not valid.");
    if (IsLoopbackListenHost(settings.listen_host)) {
        if (!IsLoopbackHost(addressed->host)) return Refuse(421, "This console answers only to a loopback address.");
    }

    if (request.get_header_value("Sec-Fetch-Site") == "cross-site") {
        const bool is_navigation =
            (request.method == "GET" || request.method == "HEAD") && route.is_entry &&
            (!request.has_header("Sec-Fetch-Mode") || request.get_header_value("Sec-Fetch-Mode") == "navigate");
        if (!is_navigation) return Refuse(403, "Requests from other sites are refused.");
    }

    // A forgery rides on the browser's cookie. A browser sends no
    // Authorization header of its own accord, so an API request that carries
    // a token (the API then takes the token alone, never the cookie) or no
    // cookie at all (and is refused as unsigned) is no other site's forgery.
    if (is_post && !(is_api && (request.has_header("Authorization") || !request.has_header("Cookie")))) {
        const std::string origin =
            request.has_header("Origin") ? request.get_header_value("Origin") : request.get_header_value("Referer");
        if (!IsOwnOrigin(origin, host_header, settings)) {
            return Refuse(403, "Forms may only be sent from this console's own pages.");
        }
    }
    return std::nullopt;
}

}  // namespace tessera::console
