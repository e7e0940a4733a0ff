// The session cookie and the Cookie header.
#include "session_cookie.h"

namespace tessera::console {

std::string SessionIdFromCookieHeader(const std::string& cookie_header) {
    return CookieValue(cookie_header, kSessionCookieName);
}

std::string CookieValue(const std::string& cookie_header, const std::string& name) {
    const std::string prefix = name + "=";
    std::size_t start = 0;
    while (start < cookie_header.size()) {
        std::size_t end = cookie_header.find(';', start);
        if (end == std::string::npos) end = cookie_header.size();
        std::size_t first = cookie_header.find_first_not_of(' ', start);
        if (first < end && cookie_header.compare(first, prefix.size(), prefix) == 0) {
            std::string value = cookie_header.substr(first + prefix.size(), end - first - prefix.size());
            while (!value.empty() && value.back() == ' ') value.pop_back();
            return value;
        }
        start = end + 1;
    }
    return {};
}

std::string SessionCookie(const std::string& id, bool is_tls) {
    return std::string(kSessionCookieName) + "=" + id + "; HttpOnly; SameSite=Strict; Path=/" +
           (is_tls ? "; Secure" : "");
}

std::string ExpiredSessionCookie(bool is_tls) {
    return std::string(kSessionCookieName) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0" +
           (is_tls ? "; Secure" : "");
}

}  // namespace tessera::console
