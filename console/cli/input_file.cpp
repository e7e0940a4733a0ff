// Reading the files that commands take as input, bounded in size.
#include "commands.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace tessera::console {

std::string ReadInputFile(const std::filesystem::path& file, std::uintmax_t max_bytes) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) {
        throw CommandError(kExitUsage, file.string() + " is a folder, not a file");
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw CommandError(kExitUsage, "cannot open " + file.string() + ": " + std::generic_category().message(errno));
    }
    std::string bytes;
    char chunk[64 * 1024];
    // Reads at most one byte past the limit: enough to know the file is too large,
    // whatever its reported size (pipes and special files report none).
    while (bytes.size() <= max_bytes) {
        const std::uintmax_t remaining = max_bytes - bytes.size();
        const std::uintmax_t wanted = remaining < sizeof chunk ? remaining + 1 : sizeof chunk;
        stream.read(chunk, static_cast<std::streamsize>(wanted));
        bytes.append(chunk, static_cast<std::size_t>(stream.gcount()));
        if (stream.bad()) {
            throw CommandError(kExitUsage, "cannot read " + file.string());
        }
        if (!stream) {
            return bytes;
        }
    }
    throw CommandError(kExitUsage,
                       file.string() + " is larger than the limit of " + std::to_string(max_bytes) + " bytes");
}

}  // namespace tessera::console
