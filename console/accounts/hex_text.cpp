// Hexadecimal text of bytes, by OpenSSL's encoder, and SHA-256 digests.
#include "hex_text.h"
#include "text_util.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <stdexcept>

namespace tessera::console {

std::string HexText(const unsigned char* bytes, std::size_t size) {
    if (size == 0) return {};
    std::string text(size * 2 + 1, '\0');  // the digits and OpenSSL's terminating NUL
    std::size_t length = 0;                // with the terminating NUL
    if (OPENSSL_buf2hexstr_ex(text.data(), text.size(), &length, bytes, size, '\0') != 1) {
        throw std::runtime_error("cannot write bytes as hexadecimal text");
    }
    text.resize(length - 1);
    return host::FoldAsciiCase(std::move(text));  // OpenSSL writes capitals
}

std::optional<std::vector<unsigned char>> BytesOfHexText(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / 2);
    std::size_t length = 0;
    if (OPENSSL_hexstr2buf_ex(bytes.data(), bytes.size(), &length, text.c_str(), '\0') != 1 || length != bytes.size()) {
        return std::nullopt;
    }
    return bytes;
}

std::string Sha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string Sha256Hex(std::string_view bytes) {
    const std::string digest = Sha256(bytes);
    return HexText(reinterpret_cast<const unsigned char*>(digest.data()), digest.size());
}

}  // namespace tessera::console
