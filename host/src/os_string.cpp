// The host's string library: case folding, UTF-8/UTF-16/UTF-32 conversions
// that never fail (invalid input becomes U+FFFD), and the tokenisers.
#include "os_string.h"

#include "text_util.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <type_traits>
#include <utility>

namespace {

#if WCHAR_MAX > 0xFFFF
constexpr bool kWideIsUtf16 = false;
#else
constexpr bool kWideIsUtf16 = true;
#endif

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxScalar = 0x10FFFF;

constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

constexpr char32_t CombineSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// wchar_t is signed on some platforms; its bits are what count.
constexpr char32_t UnitValue(wchar_t unit) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

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

// The UTF-16 code units of wide text, one at a time, whatever the width of wchar_t.
class Utf16Units {
public:
    Utf16Units(const wchar_t* text, std::size_t length) : text_(text), length_(length) {}

    bool Next(char32_t& unit) {
        if (pending_low_ != 0) {
            unit = std::exchange(pending_low_, 0);
            return true;
        }
        if (index_ == length_) {
            return false;
        }
        unit = UnitValue(text_[index_++]);
        if (unit > kMaxScalar) {
            unit = kReplacement;
        } else if (unit > 0xFFFF) {
            const char32_t offset = unit - 0x10000;
            unit = 0xD800 + (offset >> 10);
            pending_low_ = 0xDC00 + (offset & 0x3FF);
        }
        return true;
    }

private:
    const wchar_t* text_;
    std::size_t length_;
    std::size_t index_ = 0;
    char32_t pending_low_ = 0;
};

// Compares up to `count` characters of two NUL-terminated texts, folding A-Z.
int CompareFoldedBounded(const wchar_t* left, const wchar_t* right, std::size_t count) {
    left = left != nullptr ? left : L"";
    right = right != nullptr ? right : L"";
    for (std::size_t index = 0; index < count; ++index) {
        const char32_t left_unit = tessera::host::FoldAsciiCase(UnitValue(left[index]));
        const char32_t right_unit = tessera::host::FoldAsciiCase(UnitValue(right[index]));
        if (left_unit != right_unit) {
            return left_unit < right_unit ? -1 : 1;
        }
        if (left_unit == 0) {
            break;
        }
    }
    return 0;
}

}  // namespace

#if !defined(_WIN32)
int _wcsicmp(const wchar_t* left, const wchar_t* right) { return CompareFoldedBounded(left, right, SIZE_MAX); }

int _wcsnicmp(const wchar_t* left, const wchar_t* right, std::size_t count) {
    return CompareFoldedBounded(left, right, count);
}
#endif

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

x_wstring::x_wstring(const wchar_t* text) : std::wstring(text != nullptr ? text : L"") {}

x_wstring::x_wstring(const wchar_t* text, std::size_t length)
    : std::wstring(text != nullptr ? text : L"", text != nullptr ? length : 0) {}

x_wstring::x_wstring(const std::wstring& text) : std::wstring(text) {}

x_wstring::x_wstring(std::wstring&& text) noexcept : std::wstring(std::move(text)) {}

int x_wstring::CompareNoCase(const wchar_t* other) const { return CompareFoldedBounded(c_str(), other, SIZE_MAX); }

bool x_wstring::FindAndReplaceAll(const wchar_t* find_text, const wchar_t* replacement) {
    if (find_text == nullptr || *find_text == L'\0') {
        return false;
    }
    const std::wstring needle = find_text;
    std::size_t match = find(needle);
    if (match == npos) {
        return false;
    }
    // Built afresh in one pass, so inserted text is never searched again.
    const wchar_t* insert = replacement != nullptr ? replacement : L"";
    std::wstring result;
    result.reserve(size());
    std::size_t start = 0;
    while (match != npos) {
        result.append(*this, start, match - start);
        result.append(insert);
        start = match + needle.size();
        match = find(needle, start);
    }
    result.append(*this, start, npos);
    std::wstring::operator=(std::move(result));
    return true;
}

x_wstring& x_wstring::TrimRight() {
    const std::size_t last = find_last_not_of(L" \t\n\v\f\r");
    erase(last == npos ? 0 : last + 1);
    return *this;
}

x_astring::x_astring(const char* text) : std::string(text != nullptr ? text : "") {}

x_astring::x_astring(const std::string& text) : std::string(text) {}

x_astring::x_astring(std::string&& text) noexcept : std::string(std::move(text)) {}

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

std::size_t UTF16Length(const wchar_t* text, std::size_t length) {
    if (text == nullptr) {
        return 0;
    }
    Utf16Units units(text, length);
    std::size_t count = 0;
    for (char32_t unit = 0; units.Next(unit);) {
        ++count;
    }
    return count;
}

int UTF16Compare(const std::wstring& left, const std::wstring& right) {
    // Equal characters give equal code units, so only the first difference
    // matters; below the surrogate range a character is its own code unit.
    const auto [left_at, right_at] = std::mismatch(left.begin(), left.end(), right.begin(), right.end());
    if (left_at == left.end() || right_at == right.end()) {
        return (left_at == left.end()) == (right_at == right.end()) ? 0 : (left_at == left.end() ? -1 : 1);
    }
    if (static_cast<std::uint32_t>(*left_at) < 0xD800 && static_cast<std::uint32_t>(*right_at) < 0xD800) {
        return *left_at < *right_at ? -1 : 1;
    }
    const std::size_t first_difference = static_cast<std::size_t>(left_at - left.begin());
    Utf16Units left_units(left.data() + first_difference, left.size() - first_difference);
    Utf16Units right_units(right.data() + first_difference, right.size() - first_difference);
    for (;;) {
        char32_t left_unit = 0;
        char32_t right_unit = 0;
        const bool has_left = left_units.Next(left_unit);
        const bool has_right = right_units.Next(right_unit);
        if (!has_left || !has_right) {
            return has_left == has_right ? 0 : (has_left ? 1 : -1);
        }
        if (left_unit != right_unit) {
            return left_unit < right_unit ? -1 : 1;
        }
    }
}

UTF16SortKey UTF16SortKeyOf(const std::wstring& text) {
    UTF16SortKey key{};
    Utf16Units units(text.data(), text.size());
    char32_t unit = 0;
    for (std::size_t index = 0; index < 4 * key.size() && units.Next(unit); ++index) {
        key[index / 4] |= static_cast<std::uint64_t>(unit) << (16 * (3 - index % 4));
    }
    return key;
}

}  // namespace OS

namespace NS_StringUtils {

OS::x_wstring concatPath(const wchar_t* folder, const wchar_t* relative_path) {
    OS::x_wstring path(folder);
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    path += OS::x_wstring(relative_path);
    return path;
}

}  // namespace NS_StringUtils

int SplitStringToTokensW(std::vector<OS::x_wstring>& tokens, const OS::x_wstring& text, const wchar_t* delimiters) {
    int appended = 0;
    tessera::host::ForEachPiece(text, delimiters, [&](std::size_t start, std::size_t length) {
        if (length > 0) {
            tokens.emplace_back(text.substr(start, length));
            ++appended;
        }
    });
    return appended;
}

int CombineTokensToStringW(const std::vector<OS::x_wstring>& tokens, OS::x_wstring& out, const wchar_t* separator) {
    const wchar_t* between = separator != nullptr ? separator : L"";
    for (std::size_t index = 0; index < tokens.size(); ++index) {
        if (index > 0) {
            out += between;
        }
        out += tokens[index];
    }
    return static_cast<int>(tokens.size());
}
