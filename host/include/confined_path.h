// The one rule that keeps a relative path inside the folder it is resolved
// in: template paths of the plug-ins, page IDs and static file names.
#pragma once

#include "host_api.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::host {

// The names of `path` below a folder, or nothing when it could name anything
// else. Names are separated by "/" or "\" (plug-ins write either); "." names
// are dropped; an empty name (so also a leading separator), "..", a colon
// (drive letters, alternate streams), NUL or another control character
// anywhere, or more than 1024 characters, refuse the whole path.
TESSERA_HOST_API std::optional<std::vector<std::wstring>> ConfinedNames(std::wstring_view path);
// The same names joined by "/", or nothing.
TESSERA_HOST_API std::optional<std::wstring> ConfinedPath(std::wstring_view path);

// True when `path` lies strictly below `root`; both must be canonical, so
// that symbolic links are already followed.
TESSERA_HOST_API bool IsStrictlyInside(const std::filesystem::path& root, const std::filesystem::path& path);

}  // namespace tessera::host
