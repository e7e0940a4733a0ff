// Bytes as hexadecimal text, through OpenSSL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tessera::console {

enum class HexCase { kLower, kUpper };

// Two digits per byte of `bytes`, with `separator` between bytes unless it is '\0'.
std::string HexText(const unsigned char* bytes, std::size_t size, HexCase letter_case, char separator = '\0');

// The bytes that `text`, two hexadecimal digits (either case) per byte and no
// separator, stands for; nullopt when it is empty or anything else.
std::optional<std::vector<unsigned char>> BytesOfHexText(const std::string& text);

}  // namespace tessera::console
