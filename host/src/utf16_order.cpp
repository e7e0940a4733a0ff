// Texts in the order of their UTF-16 code units, as the approved list sorts
// them, whatever the width of wchar_t.
#include "os_string.h"
#include "unicode_units.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

using namespace tessera::host::unicode;

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

}  // namespace

namespace OS {

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
