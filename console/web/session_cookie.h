// The session cookie: its name, the values that start and end it, and reading
// cookies from a Cookie request header.
#pragma once

#include <string>

namespace tessera::console {

inline constexpr char kSessionCookieName[] = "tessera_session";

// The value of the session cookie in a Cookie request header, or empty.
std::string SessionIdFromCookieHeader(const std::string& cookie_header);
// The value of the cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& cookie_header, const std::string& name);

// Set-Cookie values that start and end the session.
// Secure (sent over HTTPS only) when the console speaks TLS.
std::string SessionCookie(const std::string& id, bool is_tls);
std::string ExpiredSessionCookie(bool is_tls);

}  // namespace tessera::console
