// Plain, slow encoders of Unicode text, written from the standard alone, that
// the fuzzers hold the host's fast conversions to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessera::fuzz {

inline bool IsScalar(std::uint32_t code) { return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF); }

inline bool IsScalarText(const std::wstring& text) {
    for (const wchar_t ch : text) {
        if (!IsScalar(static_cast<std::uint32_t>(ch))) return false;
    }
    return true;
}

// `text` with every value that is no Unicode scalar as U+FFFD.
inline std::wstring Scalarised(const std::wstring& text) {
    std::wstring scalars = text;
    for (wchar_t& ch : scalars) {
        if (!IsScalar(static_cast<std::uint32_t>(ch))) ch = 0xFFFD;
    }
    return scalars;
}

// The UTF-16 code units of a text of scalars.
inline std::vector<std::uint16_t> Utf16Units(const std::wstring& scalars) {
    std::vector<std::uint16_t> units;
    for (const wchar_t ch : scalars) {
        const auto code = static_cast<std::uint32_t>(ch);
        if (code < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(code));
        } else {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

inline std::string Utf16Bytes(const std::wstring& scalars, bool big_endian) {
    std::string bytes;
    for (const std::uint16_t unit : Utf16Units(scalars)) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

// The UTF-8 of a text of scalars.
inline std::string Utf8Bytes(const std::wstring& scalars) {
    std::string bytes;
    for (const wchar_t ch : scalars) {
        const auto code = static_cast<std::uint32_t>(ch);
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

inline std::size_t CountOf(const std::string& bytes, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = bytes.find(piece); at != std::string::npos; at = bytes.find(piece, at + 1)) ++count;
    return count;
}

}  // namespace tessera::fuzz
