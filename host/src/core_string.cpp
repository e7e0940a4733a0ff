// The host's second string class and its split.
#include "core_string.h"

#include "text_util.h"

#include <utility>

namespace Core {

String::String(const wchar_t* text) : text_(text != nullptr ? text : L"") {}

String::String(std::wstring text) : text_(std::move(text)) {}

String String::SubStr(std::size_t start) const { return start < text_.size() ? String(text_.substr(start)) : String(); }

Collection::StringArray String::SplitByChar(const wchar_t* separators) const {
    Collection::StringArray pieces;
    tessera::host::ForEachPiece(text_, separators, [&](std::size_t start, std::size_t length) {
        pieces.Add(String(text_.substr(start, length)));
    });
    return pieces;
}

}  // namespace Core
