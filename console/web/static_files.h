// The console's own style sheets, scripts and images, served from
// <web root>/web/static at /static/.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tessera::console {

struct StaticFile {
    std::string content;
    std::string content_type;
};

inline constexpr std::uintmax_t kMaxStaticFileBytes = 8u << 20;

// The Content-Type of a file the console serves, by its extension; null for
// a type it does not serve.
const char* StaticContentType(const std::filesystem::path& file);

// The file `relative_path` (percent-decoded, below /static/) under
// `static_root`, or null when the path is not confined (see
// host::ConfinedNames), its type is not one the console serves (css, js,
// svg, png, ico), it leads outside the folder through a link, it is not a
// regular file, or it is larger than kMaxStaticFileBytes.
std::optional<StaticFile> ReadStaticFile(const std::filesystem::path& static_root, const std::string& relative_path);

}  // namespace tessera::console
