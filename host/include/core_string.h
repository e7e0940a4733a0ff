// The host's second string class and its list.
#pragma once

#include "host_api.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Core {

namespace Collection {
class StringArray;
}

class TESSERA_HOST_API String {
public:
    String() = default;
    String(const wchar_t* text);  // null gives the empty text
    String(std::wstring text);

    const wchar_t* c_str() const { return text_.c_str(); }
    std::size_t GetLength() const { return text_.size(); }

    // The text from `start` to the end; empty when `start` is past the end.
    String SubStr(std::size_t start) const;

    // Pieces between any of the `separators` characters, in order, empty pieces
    // kept: "a;;b" gives "a", "", "b"; the empty text gives one empty piece.
    Collection::StringArray SplitByChar(const wchar_t* separators) const;

private:
    std::wstring text_;
};

namespace Collection {
class TESSERA_HOST_API StringArray {
public:
    std::size_t GetSize() const { return items_.size(); }
    const String& operator[](std::size_t index) const { return items_[index]; }
    void Add(String item) { items_.push_back(std::move(item)); }

private:
    std::vector<String> items_;
};
}  // namespace Collection

}  // namespace Core
