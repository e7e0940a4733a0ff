// Bytes as lower-case hexadecimal text and back, and SHA-256 digests, through OpenSSL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::console {

// Two lower-case digits per byte of `bytes`.
std::string HexText(const unsigned char* bytes, std::size_t size);

// The bytes that `text`, two hexadecimal digits (either case) per byte and no
// separator, stands for; nullopt when it is empty or anything else.
std::optional<std::vector<unsigned char>> BytesOfHexText(const std::string& text);

// The SHA-256 digest of `bytes`: its 32 bytes, or their hexadecimal text.
std::string Sha256(std::string_view bytes);
std::string Sha256Hex(std::string_view bytes);

}  // namespace tessera::console
