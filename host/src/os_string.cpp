// The host's string classes: case-insensitive comparison, replacement,
// trimming, paths and the tokenisers. The UTF conversions are utf_codec.cpp's.
#include "os_string.h"

#include "text_util.h"
#include "unicode_units.h"

#include <cstdint>
#include <cwchar>
#include <utility>

namespace {

using tessera::host::unicode::UnitValue;

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
