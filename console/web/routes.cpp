// The table of the web console's own paths.
#include "routes.h"

#include <string_view>

namespace tessera::console {
namespace {

struct RouteRow {
    Route route;
    std::string_view path;
    bool is_prefix;
};

constexpr RouteRow kRoutes[] = {
    {Route::kRoot, kRootPath, false},
    {Route::kSignIn, kSignInPath, false},
    {Route::kSignOut, kSignOutPath, false},
    {Route::kHistory, kHistoryPath, false},
    {Route::kRestore, kRestorePath, false},
    {Route::kStaticFile, kStaticPrefix, true},
    {Route::kApprovedList, kListApartPrefix, true},
};

}  // namespace

Route RouteOf(const std::string& path) {
    for (const RouteRow& row : kRoutes) {
        if (row.is_prefix ? path.rfind(row.path, 0) == 0 : path == row.path) return row.route;
    }
    return Route::kPage;
}

bool IsChangeRoute(Route route) { return route == Route::kSignOut || route == Route::kRestore; }

}  // namespace tessera::console
