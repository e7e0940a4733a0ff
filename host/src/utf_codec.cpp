// UTF-8, UTF-16 and UTF-32 conversions that never fail: what is no Unicode
// scalar becomes U+FFFD.
#include "os_string.h"
#include "unicode_units.h"

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

using namespace tessera::host::unicode;

// Writes the UTF-8 form of `scalar` (at most four bytes) to `out`; returns its length.
std::size_t EncodeUtf8(char32_t scalar, char* out) {
    if (scalar < 0x80) {
        out[0] = static_cast<char>(scalar);
        return 1;
    }
    if (scalar < 0x800) {
        out[0] = static_cast<char>(0xC0 | (scalar >> 6));
        out[1] = static_cast<char>(0x80 | (scalar & 0x3F));
        return 2;
    }
    if (scalar < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (scalar >> 12));
        out[1] = static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (scalar & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (scalar >> 18));
    out[1] = static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (scalar & 0x3F));
    return 4;
}

// The Unicode scalar at text[index], advancing past it. On UTF-16 platforms a
// surrogate pair is one scalar; anything that is no scalar reads as U+FFFD.
char32_t NextScalar(const wchar_t* text, std::size_t length, std::size_t& index) {
    const char32_t unit = UnitValue(text[index++]);
    if (kWideIsUtf16 && IsHighSurrogate(unit) && index < length && IsLowSurrogate(UnitValue(text[index]))) {
        return CombineSurrogates(unit, UnitValue(text[index++]));
    }
    if (IsSurrogate(unit) || unit > kMaxScalar) {
        return kReplacement;
    }
    return unit;
}

}  // namespace

namespace OS {

void AppendScalar(std::wstring& out, char32_t scalar) {
    if (kWideIsUtf16 && scalar > 0xFFFF) {
        const char32_t offset = scalar - 0x10000;
        out += static_cast<wchar_t>(0xD800 + (offset >> 10));
        out += static_cast<wchar_t>(0xDC00 + (offset & 0x3FF));
        return;
    }
    out += static_cast<wchar_t>(scalar);
}

void AppendScalar(std::string& out, char32_t scalar) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(scalar, bytes));
}

bool IsUnicodeText(const wchar_t* text, std::size_t length) {
    for (std::size_t index = 0; index < length;) {
        const char32_t unit = UnitValue(text[index]);
        if (NextScalar(text, length, index) == kReplacement && unit != kReplacement) return false;
    }
    return true;
}

x_astring WCharToUTF8Char(const wchar_t* text, std::size_t* utf8_length) {
    return WCharToUTF8Char(text, text != nullptr ? std::wcslen(text) : 0, utf8_length);
}

x_astring WCharToUTF8Char(const wchar_t* text, std::size_t length, std::size_t* utf8_length) {
    std::string utf8;
    AppendUtf8(utf8, text, length);
    if (utf8_length != nullptr) {
        *utf8_length = utf8.size();
    }
    return x_astring(std::move(utf8));
}

void AppendUtf8(std::string& utf8, const wchar_t* text, std::size_t length) {
    if (text == nullptr) {
        return;
    }
    utf8.reserve(utf8.size() + length);
    // Markup is mostly ASCII: it is checked and narrowed a block at a time, in
    // loops of fixed length that the compiler turns into vector code, into a
    // buffer that goes into the string a few kilobytes at a time.
    constexpr std::size_t kBlock = 16;
    char buffer[4096];
    std::size_t used = 0;
    std::size_t index = 0;
    while (index < length) {
        if (sizeof buffer - used < 4 * kBlock) {  // room for a block of four-byte characters
            utf8.append(buffer, used);
            used = 0;
        }
        if (length - index >= kBlock) {
            std::uint32_t bits = 0;
            for (std::size_t offset = 0; offset < kBlock; ++offset) {
                const auto unit = static_cast<std::uint32_t>(text[index + offset]);
                bits |= unit;
                buffer[used + offset] = static_cast<char>(unit);
            }
            if (bits < 0x80) {
                used += kBlock;
                index += kBlock;
                continue;
            }
        }
        // A block with other characters, or the last few, one character at a time.
        const std::size_t block_end = std::min(length, index + kBlock);
        while (index < block_end) {
            used += EncodeUtf8(NextScalar(text, length, index), buffer + used);
        }
    }
    utf8.append(buffer, used);
}

x_wstring UTF8CharToWChar(const char* bytes, std::size_t length) {
    std::wstring text;
    if (bytes == nullptr) {
        return x_wstring(std::move(text));
    }
    text.reserve(length);
    const auto byte_at = [bytes](std::size_t index) { return static_cast<unsigned char>(bytes[index]); };
    std::size_t index = 0;
    while (index < length) {
        const unsigned char lead = byte_at(index++);
        if (lead < 0x80) {
            text += static_cast<wchar_t>(lead);
            continue;
        }
        // The allowed range of the second byte rules out overlong forms,
        // surrogates and values beyond U+10FFFF; later bytes are 80-BF.
        std::size_t continuation_count = 0;
        unsigned char second_min = 0x80;
        unsigned char second_max = 0xBF;
        char32_t scalar = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            continuation_count = 1;
            scalar = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuation_count = 2;
            scalar = lead & 0x0Fu;
            second_min = lead == 0xE0 ? 0xA0 : 0x80;
            second_max = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            continuation_count = 3;
            scalar = lead & 0x07u;
            second_min = lead == 0xF0 ? 0x90 : 0x80;
            second_max = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            OS::AppendScalar(text, kReplacement);
            continue;
        }
        // An incomplete sequence is replaced once, and the byte that broke it
        // is read again as the start of the next character.
        bool is_complete = true;
        for (std::size_t taken = 0; taken < continuation_count; ++taken) {
            const unsigned char low = taken == 0 ? second_min : 0x80;
            const unsigned char high = taken == 0 ? second_max : 0xBF;
            if (index == length || byte_at(index) < low || byte_at(index) > high) {
                is_complete = false;
                break;
            }
            scalar = (scalar << 6) | (byte_at(index++) & 0x3Fu);
        }
        OS::AppendScalar(text, is_complete ? scalar : kReplacement);
    }
    return x_wstring(std::move(text));
}

x_wstring UTF16BytesToWChar(const unsigned char* bytes, std::size_t length, bool big_endian) {
    std::wstring text;
    if (bytes == nullptr) {
        return x_wstring(std::move(text));
    }
    const std::size_t unit_count = length / 2;
    text.reserve(unit_count);
    const auto unit_at = [bytes, big_endian](std::size_t index) {
        const char32_t first = bytes[2 * index];
        const char32_t second = bytes[2 * index + 1];
        return big_endian ? (first << 8) | second : (second << 8) | first;
    };
    std::size_t index = 0;
    while (index < unit_count) {
        const char32_t unit = unit_at(index++);
        if (IsHighSurrogate(unit) && index < unit_count && IsLowSurrogate(unit_at(index))) {
            OS::AppendScalar(text, CombineSurrogates(unit, unit_at(index++)));
        } else {
            OS::AppendScalar(text, IsSurrogate(unit) ? kReplacement : unit);
        }
    }
    if (length % 2 != 0) {
        OS::AppendScalar(text, kReplacement);
    }
    return x_wstring(std::move(text));
}

x_wstring DecodeTextFile(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        return UTF16BytesToWChar(data + 2, size - 2, false);
    }
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        return UTF16BytesToWChar(data + 2, size - 2, true);
    }
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        return UTF8CharToWChar(bytes.data() + 3, size - 3);
    }
    return UTF8CharToWChar(bytes.data(), size);
}

}  // namespace OS
