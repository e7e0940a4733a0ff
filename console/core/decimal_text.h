// How the console reads a number that a person or a program wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tessera::console {

// The number of 1 to 18 decimal digits that `text` is, or null for anything
// else: how a form, an address or a command line names a record, a version or a count.
inline std::optional<std::int64_t> DecimalOf(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace tessera::console
