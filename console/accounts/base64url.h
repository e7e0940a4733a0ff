// Base64url without padding (RFC 4648, section 5), as WebAuthn writes bytes
// in JSON, through OpenSSL's base64.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessera::console {

std::string Base64UrlText(std::string_view bytes);
// The bytes of `text`; nullopt when it is not base64url (padding is taken).
std::optional<std::string> Base64UrlBytes(std::string_view text);

}  // namespace tessera::console
