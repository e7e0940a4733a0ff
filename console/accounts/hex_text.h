// Bytes as lower-case hexadecimal text and back, through OpenSSL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tessera::console {

// Two lower-case digits per byte of `bytes`.
std::string HexText(const unsigned char* bytes, std::size_t size);

// The bytes that `text`, two hexadecimal digits (either case) per byte and no
// separator, stands for; nullopt when it is empty or anything else.
std::optional<std::vector<unsigned char>> BytesOfHexText(const std::string& text);

}  // namespace tessera::console
