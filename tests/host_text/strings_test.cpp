// The host's string library where no page reaches all of it: the UTF
// conversions and Format.
#include "core_string.h"
#include "os_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::wstring Wide(std::initializer_list<std::uint32_t> units) {
    std::wstring text;
    for (const std::uint32_t unit : units) {
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

template <typename... Args>
std::wstring Formatted(const wchar_t* format, Args... args) {
    OS::x_wstring text(L"previous content");
    const int length = text.Format(format, args...);
    EXPECT_EQ(static_cast<std::size_t>(length), text.size()) << "format " << testing::PrintToString(format);
    return text;
}

TEST(Utf8Encoding, ReplacesWhatIsNoUnicodeScalar) {
    std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"", ""},
        {L"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},
        {Wide({'a', 0xD800, 'b'}),
         "a\xEF\xBF\xBD"
         "b"},
        {Wide({0xDC00}), "\xEF\xBF\xBD"},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
        // ASCII goes sixteen characters at a time: others at and across a block's edges.
        {std::wstring(15, L'x') + L"\U0001F600" + std::wstring(16, L'y') + L"\u0080" + std::wstring(17, L'z') +
             L"\u00E9",
         std::string(15, 'x') + "\xF0\x9F\x98\x80" + std::string(16, 'y') + "\xC2\x80" + std::string(17, 'z') +
             "\xC3\xA9"},
        {std::wstring(16, L'a') + Wide({0xD800}) + std::wstring(16, L'b'),
         std::string(16, 'a') + "\xEF\xBF\xBD" + std::string(16, 'b')},
    };
    // Long text of three-byte characters, several kilobytes of UTF-8.
    std::wstring euros(5000, L'\u20AC');
    std::string euros_utf8;
    for (std::size_t count = 0; count < euros.size(); ++count) euros_utf8 += "\xE2\x82\xAC";
    cases.push_back({euros, euros_utf8});
#if WCHAR_MAX > 0xFFFF
    cases.push_back({Wide({0x110000, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"});
#endif
    for (const auto& [text, utf8] : cases) {
        std::size_t length = 99;
        EXPECT_EQ(std::string(OS::WCharToUTF8Char(text.data(), text.size(), &length)), utf8);
        EXPECT_EQ(length, utf8.size());
    }
    EXPECT_EQ(std::string(OS::WCharToUTF8Char(nullptr, nullptr)), "");
}

TEST(Utf8Decoding, ReplacesEachBrokenSequenceOnce) {
    const std::wstring fffd = L"\uFFFD";
    const std::pair<std::string, std::wstring> cases[] = {
        {"\xC3\xA9\xF0\x9F\x98\x80", L"\u00E9\U0001F600"},
        {"\xEF\xBB\xBF"
         "a",
         L"\uFEFFa"},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"\xC0\xAF", fffd + fffd},                        // overlong "/"
        {"\xE0\x80\xAF", fffd + fffd + fffd},             // overlong, three bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},             // a surrogate encoded in UTF-8
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // beyond U+10FFFF
        {"\xFF"
         "a\x80",
         fffd + L"a" + fffd},
        {"a\xE2\x82", L"a" + fffd},  // truncated at the end
        {"\xE2\x82"
         "a",
         fffd + L"a"},  // the breaking byte starts the next character
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(std::wstring(OS::UTF8CharToWChar(bytes.data(), bytes.size())), text) << testing::PrintToString(bytes);
    }
    EXPECT_TRUE(OS::UTF8CharToWChar(nullptr, 5).empty());
}

TEST(TextFileDecoding, FollowsTheByteOrderMarkAndPairsSurrogates) {
    const std::wstring fffd = L"\uFFFD";
    const std::pair<std::string, std::wstring> cases[] = {
        {std::string("\xFF\xFE"
                     "A\0\xE9\0",
                     6),
         L"A\u00E9"},
        {std::string("\xFE\xFF\0A\0\xE9", 6), L"A\u00E9"},
        {std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), L"\U0001F600"},
        {std::string("\xFE\xFF\xD8\x3D\xDE\x00"
                     "A",
                     7),
         L"\U0001F600" + fffd},      // odd final byte
        {"\xFF\xFE\x3D\xD8", fffd},  // high surrogate at the end
        {std::string("\xFF\xFE\x3D\xD8"
                     "A\0",
                     6),
         fffd + L"A"},  // high surrogate without its low one
        {std::string("\xFF\xFE\x00\xDE"
                     "A\0",
                     6),
         fffd + L"A"},  // lone low surrogate
        {"\xEF\xBB\xBF"
         "A\xC3\xA9",
         L"A\u00E9"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF", L"\uFEFF"},  // only the first mark is a byte order mark
        {"A\xC3\xA9", L"A\u00E9"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(std::wstring(OS::DecodeTextFile(bytes)), text) << testing::PrintToString(bytes);
    }
}

TEST(Format, FollowsTheConsoleConventions) {
    const auto* null_wide = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Formatted(L"%s|%ls|%s", L"wide", L"also", null_wide), L"wide|also|(null)");
    EXPECT_EQ(Formatted(L"%hs|%S|%hs", "narrow", "\xC3\xA9\xFF", static_cast<const char*>(nullptr)),
              L"narrow|\u00E9\uFFFD|(null)");
    EXPECT_EQ(Formatted(L"%d %i %u", -42, 7, 4294967295u), L"-42 7 4294967295");
    EXPECT_EQ(Formatted(L"%5d|%-5d|%05d|%+d|% d|%-05d", 42, 42, -42, 42, 42, 42), L"   42|42   |-0042|+42| 42|42   ");
    EXPECT_EQ(Formatted(L"%.3d|%.0d|%8.3d|%08.3d", 7, 0, -7, 7), L"007||    -007|     007");
    EXPECT_EQ(Formatted(L"%ld %lld %zu %hd %hhu", -1L, LLONG_MIN, SIZE_MAX, 70000, 257),
              L"-1 -9223372036854775808 18446744073709551615 4464 1");
    EXPECT_EQ(Formatted(L"%*d|%-*d|%.*s|%*d", 4, 1, 3, 2, 2, L"abcdef", -3, 5), L"   1|2  |ab|5  ");
    EXPECT_EQ(Formatted(L"%6s|%-4s|%.2hs|%.1s", L"r", L"l", "xyz", L"\u00E9t\u00E9"), L"     r|l   |xy|\u00E9");
    EXPECT_EQ(Formatted(L"100%% %n%d %q%", 5), L"100% %n5 %q%");
    EXPECT_EQ(Formatted(L"plain"), L"plain");
    EXPECT_EQ(Formatted(nullptr), L"");
    const std::wstring zeros(2 * sizeof(void*) - 4, L'0');
    EXPECT_EQ(Formatted(L"(%p)", reinterpret_cast<void*>(0xBEEF)), L"(" + zeros + L"BEEF)");
    OS::x_wstring joined(L"a;");
    joined.Format(L"%s%s%s", joined.c_str(), L"*.example.com", L";");
    EXPECT_EQ(std::wstring(joined), L"a;*.example.com;");
    const std::wstring wide(4'000'000, L'w');
    const std::string narrow(4'000'000, 'n');
    EXPECT_EQ(Formatted(L"<%s|%hs>", wide.c_str(), narrow.c_str()),
              L"<" + wide + L"|" + std::wstring(narrow.size(), L'n') + L">");
}

}  // namespace
