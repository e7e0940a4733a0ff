// The web console's routes: every path it answers on its own, and the one
// lookup that tells a request's route from its path, for every method alike.
// Every other path is a page of the plug-in, for a signed-in administrator.
#pragma once

#include <string>

namespace tessera::console {

inline constexpr char kRootPath[] = "/";
inline constexpr char kSignInPath[] = "/login";
inline constexpr char kSignOutPath[] = "/logout";
inline constexpr char kHistoryPath[] = "/history";
inline constexpr char kRestorePath[] = "/history/restore";
inline constexpr char kStaticPrefix[] = "/static/";
// Followed by the token of one list parcel.
inline constexpr char kListApartPrefix[] = "/approved-list/";

enum class Route { kRoot, kSignIn, kSignOut, kStaticFile, kHistory, kRestore, kApprovedList, kPage };

// The route of the percent-decoded path `path`; kPage for any path that is
// none of the console's own.
Route RouteOf(const std::string& path);

// True for the routes whose every request changes something, whatever its
// method: a GET or HEAD of one is refused before it is routed.
bool IsChangeRoute(Route route);

}  // namespace tessera::console
