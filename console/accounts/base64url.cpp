// Base64url through OpenSSL's base64 encoder and decoder.
#include "base64url.h"

#include <openssl/evp.h>

#include <limits>

namespace tessera::console {

std::string Base64UrlText(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) return {};
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    while (!text.empty() && text.back() == '=') text.pop_back();
    for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return text;
}

std::optional<std::string> Base64UrlBytes(std::string_view text) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1 || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) {
        return std::nullopt;
    }
    std::string standard;
    for (const char c : text) {
        if (c == '+' || c == '/') return std::nullopt;
        standard += c == '-' ? '+' : c == '_' ? '/' : c;
    }
    const std::size_t padding = (4 - standard.size() % 4) % 4;
    standard.append(padding, '=');
    std::string bytes(standard.size() / 4 * 3, '\0');
    const int length =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(standard.data()), static_cast<int>(standard.size()));
    if (length < 0) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

}  // namespace tessera::console
