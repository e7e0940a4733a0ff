// The host's wide printf. It follows the Windows wide conventions (%s takes a
// wide string, %hs a narrow one) on every platform, grows its output as it
// goes, and reads each argument once, so huge arguments cost linear time.
#include "string_format.h"

#include "os_string.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <type_traits>
#include <utility>

namespace tessera::host {
namespace {

// Widths and precisions beyond this are clamped, so a format cannot ask for gigabytes.
constexpr int kMaxFieldSize = 1 << 20;

enum class LengthModifier { kNone, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrdiff };

struct Conversion {
    bool is_left_aligned = false;
    bool shows_plus = false;
    bool shows_space = false;
    bool is_alternate = false;
    bool pads_with_zeros = false;
    int width = 0;
    int precision = -1;  // -1: none given
    LengthModifier length = LengthModifier::kNone;
    wchar_t specifier = L'\0';
};

bool IsDigit(wchar_t ch) { return ch >= L'0' && ch <= L'9'; }

int ReadNumber(const wchar_t*& cursor) {
    int value = 0;
    while (IsDigit(*cursor)) {
        value = std::min(kMaxFieldSize, value * 10 + static_cast<int>(*cursor - L'0'));
        ++cursor;
    }
    return value;
}

// Parses the part after '%'; `cursor` ends on the conversion specifier.
Conversion ParseConversion(const wchar_t*& cursor, va_list* args) {
    Conversion conversion;
    for (;; ++cursor) {
        if (*cursor == L'-') {
            conversion.is_left_aligned = true;
        } else if (*cursor == L'+') {
            conversion.shows_plus = true;
        } else if (*cursor == L' ') {
            conversion.shows_space = true;
        } else if (*cursor == L'#') {
            conversion.is_alternate = true;
        } else if (*cursor == L'0') {
            conversion.pads_with_zeros = true;
        } else {
            break;
        }
    }
    if (*cursor == L'*') {
        ++cursor;
        const long long width = va_arg(*args, int);
        conversion.is_left_aligned = conversion.is_left_aligned || width < 0;
        conversion.width = static_cast<int>(std::min<long long>(kMaxFieldSize, width < 0 ? -width : width));
    } else {
        conversion.width = ReadNumber(cursor);
    }
    if (*cursor == L'.') {
        ++cursor;
        if (*cursor == L'*') {
            ++cursor;
            const int precision = va_arg(*args, int);
            conversion.precision = precision < 0 ? -1 : std::min(kMaxFieldSize, precision);
        } else {
            conversion.precision = ReadNumber(cursor);
        }
    }
    switch (*cursor) {
    case L'h':
        ++cursor;
        conversion.length = LengthModifier::kShort;
        if (*cursor == L'h') {
            ++cursor;
            conversion.length = LengthModifier::kChar;
        }
        break;
    case L'l':
        ++cursor;
        conversion.length = LengthModifier::kLong;
        if (*cursor == L'l') {
            ++cursor;
            conversion.length = LengthModifier::kLongLong;
        }
        break;
    case L'z':
        ++cursor;
        conversion.length = LengthModifier::kSize;
        break;
    case L'j':
        ++cursor;
        conversion.length = LengthModifier::kMax;
        break;
    case L't':
        ++cursor;
        conversion.length = LengthModifier::kPtrdiff;
        break;
    default:
        break;
    }
    conversion.specifier = *cursor;
    return conversion;
}

long long ReadSigned(va_list* args, LengthModifier length) {
    switch (length) {
    case LengthModifier::kChar:
        return static_cast<signed char>(va_arg(*args, int));
    case LengthModifier::kShort:
        return static_cast<short>(va_arg(*args, int));
    case LengthModifier::kLong:
        return va_arg(*args, long);
    case LengthModifier::kLongLong:
        return va_arg(*args, long long);
    case LengthModifier::kSize:
        return static_cast<std::make_signed_t<std::size_t>>(va_arg(*args, std::size_t));
    case LengthModifier::kMax:
        return static_cast<long long>(va_arg(*args, std::intmax_t));
    case LengthModifier::kPtrdiff:
        return static_cast<long long>(va_arg(*args, std::ptrdiff_t));
    case LengthModifier::kNone:
        break;
    }
    return va_arg(*args, int);
}

unsigned long long ReadUnsigned(va_list* args, LengthModifier length) {
    switch (length) {
    case LengthModifier::kChar:
        return static_cast<unsigned char>(va_arg(*args, unsigned int));
    case LengthModifier::kShort:
        return static_cast<unsigned short>(va_arg(*args, unsigned int));
    case LengthModifier::kLong:
        return va_arg(*args, unsigned long);
    case LengthModifier::kLongLong:
        return va_arg(*args, unsigned long long);
    case LengthModifier::kSize:
        return va_arg(*args, std::size_t);
    case LengthModifier::kMax:
        return static_cast<unsigned long long>(va_arg(*args, std::uintmax_t));
    case LengthModifier::kPtrdiff:
        return static_cast<std::make_unsigned_t<std::ptrdiff_t>>(va_arg(*args, std::ptrdiff_t));
    case LengthModifier::kNone:
        break;
    }
    return va_arg(*args, unsigned int);
}

void AppendPadded(std::wstring& out, const Conversion& conversion, const wchar_t* text, std::size_t length) {
    const std::size_t padding =
        length < static_cast<std::size_t>(conversion.width) ? static_cast<std::size_t>(conversion.width) - length : 0;
    if (!conversion.is_left_aligned) {
        out.append(padding, L' ');
    }
    out.append(text, length);
    if (conversion.is_left_aligned) {
        out.append(padding, L' ');
    }
}

void AppendInteger(std::wstring& out, const Conversion& conversion, unsigned long long magnitude, bool is_negative,
                   bool is_signed) {
    char digits[32] = {};
    int digit_count = 0;
    if (magnitude != 0 || conversion.precision != 0) {
        switch (conversion.specifier) {
        case L'x':
            digit_count = std::snprintf(digits, sizeof digits, "%llx", magnitude);
            break;
        case L'X':
            digit_count = std::snprintf(digits, sizeof digits, "%llX", magnitude);
            break;
        case L'o':
            digit_count = std::snprintf(digits, sizeof digits, "%llo", magnitude);
            break;
        default:
            digit_count = std::snprintf(digits, sizeof digits, "%llu", magnitude);
            break;
        }
    }
    std::wstring prefix;
    if (is_signed) {
        if (is_negative) {
            prefix = L"-";
        } else if (conversion.shows_plus) {
            prefix = L"+";
        } else if (conversion.shows_space) {
            prefix = L" ";
        }
    }
    if (conversion.is_alternate && magnitude != 0 && (conversion.specifier == L'x' || conversion.specifier == L'X')) {
        prefix += conversion.specifier == L'x' ? L"0x" : L"0X";
    }
    int zero_count = std::max(0, conversion.precision - digit_count);
    if (conversion.is_alternate && conversion.specifier == L'o' && zero_count == 0 &&
        (digit_count == 0 || digits[0] != '0')) {
        zero_count = 1;  // '#' makes an octal number start with 0
    }
    const int body_length = static_cast<int>(prefix.size()) + zero_count + digit_count;
    if (conversion.pads_with_zeros && !conversion.is_left_aligned && conversion.precision < 0) {
        zero_count += std::max(0, conversion.width - body_length);
    }
    std::wstring body = prefix;
    body.append(static_cast<std::size_t>(zero_count), L'0');
    body.append(digits, digits + digit_count);
    AppendPadded(out, conversion, body.data(), body.size());
}

std::size_t BoundedLength(const wchar_t* text, int precision) {
    if (precision < 0) {
        return std::wcslen(text);
    }
    std::size_t length = 0;
    while (length < static_cast<std::size_t>(precision) && text[length] != L'\0') {
        ++length;
    }
    return length;
}

std::size_t BoundedLength(const char* text, int precision) {
    if (precision < 0) {
        return std::char_traits<char>::length(text);
    }
    std::size_t length = 0;
    while (length < static_cast<std::size_t>(precision) && text[length] != '\0') {
        ++length;
    }
    return length;
}

void AppendNarrowText(std::wstring& out, const Conversion& conversion, const char* text) {
    const char* shown = text != nullptr ? text : "(null)";
    // The precision counts bytes here, so a character cut in two shows as U+FFFD.
    const OS::x_wstring wide = OS::UTF8CharToWChar(shown, BoundedLength(shown, conversion.precision));
    AppendPadded(out, conversion, wide.data(), wide.size());
}

void AppendWideText(std::wstring& out, const Conversion& conversion, const wchar_t* text) {
    const wchar_t* shown = text != nullptr ? text : L"(null)";
    AppendPadded(out, conversion, shown, BoundedLength(shown, conversion.precision));
}

// Appends the conversion that starts at `percent`; returns where the format goes on.
const wchar_t* AppendConversion(std::wstring& out, const wchar_t* percent, va_list* args) {
    const wchar_t* cursor = percent + 1;
    const Conversion conversion = ParseConversion(cursor, args);
    const bool is_narrow = conversion.length == LengthModifier::kShort || conversion.length == LengthModifier::kChar;
    const bool is_wide = conversion.length == LengthModifier::kLong;
    switch (conversion.specifier) {
    case L'%':
        out += L'%';
        break;
    case L'd':
    case L'i': {
        const long long value = ReadSigned(args, conversion.length);
        const unsigned long long magnitude =
            value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        AppendInteger(out, conversion, magnitude, value < 0, true);
        break;
    }
    case L'u':
    case L'x':
    case L'X':
    case L'o':
        AppendInteger(out, conversion, ReadUnsigned(args, conversion.length), false, false);
        break;
    case L'p': {
        // Windows style: every hex digit of the pointer, in capitals, without "0x".
        Conversion pointer = conversion;
        pointer.specifier = L'X';
        pointer.precision = static_cast<int>(2 * sizeof(void*));
        pointer.is_alternate = false;
        const auto address = reinterpret_cast<std::uintptr_t>(va_arg(*args, void*));
        AppendInteger(out, pointer, address, false, false);
        break;
    }
    case L's':
    case L'S':
        if (is_narrow || (conversion.specifier == L'S' && !is_wide)) {
            AppendNarrowText(out, conversion, va_arg(*args, const char*));
        } else {
            AppendWideText(out, conversion, va_arg(*args, const wchar_t*));
        }
        break;
    case L'c':
    case L'C': {
        const int value = va_arg(*args, int);
        if (is_narrow || (conversion.specifier == L'C' && !is_wide)) {
            const char byte = static_cast<char>(value);
            const OS::x_wstring wide = OS::UTF8CharToWChar(&byte, 1);
            AppendPadded(out, conversion, wide.data(), wide.size());
        } else {
            const auto ch = static_cast<wchar_t>(value);
            AppendPadded(out, conversion, &ch, 1);
        }
        break;
    }
    case L'\0':
        // A lone '%' at the end of the format stays as it is.
        out.append(percent, cursor);
        return cursor;
    default:
        // Unknown conversions, %n included, are shown as written and read no argument.
        out.append(percent, cursor + 1);
        break;
    }
    return cursor + 1;
}

}  // namespace

std::wstring FormatWide(const wchar_t* format, va_list args) {
    std::wstring out;
    AppendFormatted(out, format, args);
    return out;
}

void AppendFormatted(std::wstring& out, const wchar_t* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    // A copy of the list that can be handed on by address on every ABI.
    va_list pending;
    va_copy(pending, args);
    const wchar_t* cursor = format;
    while (*cursor != L'\0') {
        const wchar_t* percent = std::wcschr(cursor, L'%');
        if (percent == nullptr) {
            out.append(cursor);
            break;
        }
        out.append(cursor, percent);
        cursor = AppendConversion(out, percent, &pending);
    }
    va_end(pending);
}

}  // namespace tessera::host

namespace OS {

int x_wstring::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    // Formatted into a new string first: the arguments may point into this one.
    std::wstring formatted = tessera::host::FormatWide(format, args);
    va_end(args);
    std::wstring::operator=(std::move(formatted));
    return static_cast<int>(std::min<std::size_t>(size(), INT_MAX));
}

}  // namespace OS
