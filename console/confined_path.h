// The rule that keeps page IDs and static file names inside their folders.
#pragma once

#include <string_view>

namespace tessera::console {

// True when `path` (already percent-decoded) names something below a folder and
// can name nothing else: one or more names separated by "/", none empty, "."
// or "..", and no backslash, colon, NUL or other control character anywhere.
// Such a path cannot be absolute, carry a drive letter or climb out.
bool IsConfinedRelativePath(std::string_view path);

}  // namespace tessera::console
