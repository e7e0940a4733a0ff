// Serving files from the web root's static folder.
#include "static_files.h"

#include "confined_path.h"
#include "os_string.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace tessera::console {

const char* StaticContentType(const std::filesystem::path& file) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
    };
    const std::string extension = file.extension().string();
    for (const auto& [known, type] : kTypes) {
        if (extension == known) return type;
    }
    return nullptr;
}

std::optional<StaticFile> ReadStaticFile(const std::filesystem::path& static_root, const std::string& relative_path) {
    const std::optional<std::wstring> confined = host::ConfinedPath(OS::FromUtf8(relative_path));
    if (!confined) return std::nullopt;
    const std::string relative = OS::ToUtf8(*confined);
    const char* content_type = StaticContentType(relative);
    if (content_type == nullptr) return std::nullopt;

    std::error_code error;
    const std::filesystem::path root = std::filesystem::canonical(static_root, error);
    if (error) return std::nullopt;
    const std::filesystem::path file = std::filesystem::canonical(root / relative, error);
    if (error || !host::IsStrictlyInside(root, file) || !std::filesystem::is_regular_file(file, error)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kMaxStaticFileBytes) return std::nullopt;

    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    StaticFile result{std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), content_type};
    if (result.content.size() > kMaxStaticFileBytes) return std::nullopt;
    return result;
}

}  // namespace tessera::console
