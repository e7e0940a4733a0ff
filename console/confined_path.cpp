// The rule that keeps page IDs and static file names inside their folders.
#include "confined_path.h"

#include <algorithm>
#include <cstddef>

namespace tessera::console {
namespace {
constexpr std::size_t kMaxPathBytes = 1024;
}

bool IsConfinedRelativePath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPathBytes) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == "..") return false;
        for (char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7f || c == '\\' || c == ':') return false;
        }
        if (end == path.size()) return true;
        start = end + 1;
    }
}

}  // namespace tessera::console
