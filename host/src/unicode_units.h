// The code-unit arithmetic that the UTF codec and the UTF-16 order share.
#pragma once

#include <cwchar>
#include <type_traits>

namespace tessera::host::unicode {

#if WCHAR_MAX > 0xFFFF
inline constexpr bool kWideIsUtf16 = false;
#else
inline constexpr bool kWideIsUtf16 = true;
#endif

inline constexpr char32_t kReplacement = 0xFFFD;
inline constexpr char32_t kMaxScalar = 0x10FFFF;

inline constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline constexpr bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

inline constexpr char32_t CombineSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// wchar_t is signed on some platforms; its bits are what count.
inline constexpr char32_t UnitValue(wchar_t unit) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
}

}  // namespace tessera::host::unicode
