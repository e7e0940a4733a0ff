// Parsing of the plug-in's response buffer.
#include "response_frame.h"

#include <algorithm>
#include <cstring>

namespace tessera::console {

bool IsHeaderName(std::string_view name) {
    static constexpr char kTokenPunctuation[] = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
               (c != '\0' && std::strchr(kTokenPunctuation, c) != nullptr);
    });
}

bool IsSafeHeaderValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7f;
    });
}

std::optional<ResponseFrame> ParseResponseFrame(std::string_view buffer) {
    ResponseFrame frame;
    std::size_t position = 0;
    for (;;) {
        const std::size_t line_end = buffer.find('\n', position);
        if (line_end == std::string_view::npos) return std::nullopt;  // the block never ends
        std::string_view line = buffer.substr(position, line_end - position);
        position = line_end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;

        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const std::string_view name = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
        while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
        while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
        if (!IsHeaderName(name) || !IsSafeHeaderValue(value)) return std::nullopt;
        frame.headers.emplace_back(std::string(name), std::string(value));
    }
    frame.body = buffer.substr(position);
    return frame;
}

}  // namespace tessera::console
