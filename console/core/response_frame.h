// The plug-in's response buffer: a block of header lines, an empty line, then
// the UTF-8 page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessera::console {

struct ResponseFrame {
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as written
    std::string_view body;                                     // points into the parsed buffer
};

// Splits `buffer` into headers and body. Lines end in LF or CR LF. Null when the
// block has no empty line that ends it, a line is not "Name: value", a name is
// not an HTTP token, or a value holds a control character other than TAB.
// Leading and trailing blanks of a value are dropped.
std::optional<ResponseFrame> ParseResponseFrame(std::string_view buffer);

// True when `name` is an HTTP token (letters, digits and !#$%&'*+-.^_`|~).
bool IsHeaderName(std::string_view name);
// True when `value` may go into a response header as it is: no CR, LF, NUL or
// other control character (TAB allowed). The library drops such headers
// silently, so every value the console sends is checked first.
bool IsSafeHeaderValue(std::string_view value);

}  // namespace tessera::console
