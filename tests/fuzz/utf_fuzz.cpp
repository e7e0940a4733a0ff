// The host's UTF conversions and UTF-16 order against the plain encoders:
// any wide text (every 32-bit value, scalar or not) goes to UTF-8 and back as
// its scalars, any UTF-8 or UTF-16 byte string decodes to scalars that encode
// back to the same bytes when nothing had to be replaced, and two texts order
// as their UTF-16 code units do, their sort keys agreeing.
#include "os_string.h"
#include "require.h"
#include "unicode_reference.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

using namespace tessera::fuzz;

namespace {

std::wstring WideOf(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t at = 0; at + 4 <= size; at += 4) {
        std::int32_t value = 0;
        std::memcpy(&value, data + at, 4);
        text += static_cast<wchar_t>(value);
    }
    return text;
}

int Sign(int value) { return (value > 0) - (value < 0); }

void CheckOrder(const std::wstring& left, const std::wstring& right) {
    const std::vector<std::uint16_t> left_units = Utf16Units(left);
    const std::vector<std::uint16_t> right_units = Utf16Units(right);
    const int expected = left_units < right_units ? -1 : (right_units < left_units ? 1 : 0);
    Require(Sign(OS::UTF16Compare(left, right)) == expected, "texts order as their UTF-16 code units");
    Require(Sign(OS::UTF16Compare(right, left)) == -expected, "the order is antisymmetric");
    const OS::UTF16SortKey left_key = OS::UTF16SortKeyOf(left);
    const OS::UTF16SortKey right_key = OS::UTF16SortKeyOf(right);
    if (left_key != right_key) Require((left_key < right_key) == (expected < 0), "sort keys order as their texts");
    if (expected == 0) Require(left_key == right_key, "equal texts have equal sort keys");
}

void CheckWide(const std::wstring& wide) {
    const std::wstring scalars = Scalarised(wide);
    const OS::x_astring utf8 = OS::ToUtf8(wide);
    Require(utf8 == Utf8Bytes(scalars), "wide text encodes as its scalars' UTF-8");
    Require(OS::FromUtf8(utf8) == scalars, "UTF-8 of wide text decodes to its scalars");
    Require(OS::UTF16Length(scalars.data(), scalars.size()) == Utf16Units(scalars).size(),
            "the UTF-16 length counts code units");
    const std::wstring left = scalars.substr(0, scalars.size() / 2);
    const std::wstring right = scalars.substr(scalars.size() / 2);
    CheckOrder(left, right);
    CheckOrder(left, left + right);
    CheckOrder(left + right, right + left);
}

void CheckUtf8(const std::string& bytes) {
    const std::wstring decoded = OS::FromUtf8(bytes);
    Require(IsScalarText(decoded), "decoded UTF-8 holds scalars only");
    Require(decoded.size() <= bytes.size(), "no byte decodes to more than one character");
    const std::size_t replaced = static_cast<std::size_t>(std::count(decoded.begin(), decoded.end(), L'\xFFFD'));
    if (replaced == CountOf(bytes, "\xEF\xBF\xBD")) {
        Require(Utf8Bytes(decoded) == bytes, "UTF-8 decoded without replacement encodes back to its bytes");
    }
}

void CheckUtf16(const std::string& bytes, bool big_endian) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::wstring decoded = OS::UTF16BytesToWChar(data, bytes.size(), big_endian);
    Require(IsScalarText(decoded), "decoded UTF-16 holds scalars only");
    const std::size_t replaced = static_cast<std::size_t>(std::count(decoded.begin(), decoded.end(), L'\xFFFD'));
    const std::string replacement = big_endian ? "\xFF\xFD" : "\xFD\xFF";
    std::size_t literal = 0;
    for (std::size_t at = 0; at + 2 <= bytes.size(); at += 2) literal += bytes.compare(at, 2, replacement) == 0;
    if (bytes.size() % 2 == 0 && replaced == literal) {
        Require(Utf16Bytes(decoded, big_endian) == bytes, "UTF-16 decoded without replacement encodes back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckWide(WideOf(data, size));
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckUtf8(bytes);
    CheckUtf16(bytes, false);
    CheckUtf16(bytes, true);
    return 0;
}
