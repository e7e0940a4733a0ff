// The web console's route table.
#include "routes.h"

namespace tessera::console {
namespace {

using M = Methods;
using S = SessionNeed;
using F = FormKind;
constexpr Role kAny = Role::kAuditor;
constexpr Role kEdit = Role::kEditor;
constexpr Role kAdmin = Role::kAdministrator;

// First match wins: the made script before the static folder, the page row last.
constexpr RouteSpec kRoutes[] = {
    {Route::kRoot, kRootPath, false, M::kGet, S::kNone, kAny, kAny, F::kNone, true,
     "The console's address takes no form."},
    {Route::kSignIn, kSignInPath, false, M::kGetAndPost, S::kNone, kAny, kAny, F::kCredentials, true, ""},
    {Route::kSecondFactor, kSecondFactorPath, false, M::kGetAndPost, S::kPasswordOnly, kAny, kAny, F::kCredentials,
     false, ""},
    {Route::kPasskeySignIn, kPasskeySignInPath, false, M::kPost, S::kIfAny, kAny, kAny, F::kCredentials, false,
     "A passkey's answer is posted."},
    {Route::kPasskeyOptions, kPasskeyOptionsPath, false, M::kPost, S::kIfAny, kAny, kAny, F::kCredentials, false,
     "A passkey's options are asked for by a form."},
    {Route::kSignOut, kSignOutPath, false, M::kPost, S::kIfAny, kAny, kAny, F::kNone, false,
     "Signing out takes a form."},
    {Route::kAccount, kAccountPath, false, M::kGetAndPost, S::kEnrolment, kAny, kAny, F::kCredentials, false, ""},
    {Route::kAdministrators, kAdministratorsPath, false, M::kGetAndPost, S::kRequired, kAdmin, kAdmin, F::kCredentials,
     false, ""},
    {Route::kHistory, kHistoryPath, false, M::kGet, S::kRequired, kAny, kAny, F::kNone, false,
     "History is read, not posted; a restore is a form of its page."},
    {Route::kRestore, kRestorePath, false, M::kPost, S::kRequired, kEdit, kEdit, F::kSignedIn, false,
     "Restoring takes a form."},
    {Route::kPageNames, kPageNamesPath, false, M::kGet, S::kNone, kAny, kAny, F::kNone, false,
     "Static files cannot take a form."},
    {Route::kStaticFile, kStaticPrefix, true, M::kGet, S::kNone, kAny, kAny, F::kNone, false,
     "Static files cannot take a form."},
    {Route::kApprovedList, kListApartPrefix, true, M::kGet, S::kRequired, kAny, kAny, F::kNone, false,
     "An approved list is fetched, not posted."},
    // Signed in by a session or a token: the API authorizes each endpoint itself.
    {Route::kApi, kApiPrefix, true, M::kApi, S::kIfAny, kAny, kAny, F::kOwn, false, ""},
    {Route::kPage, "", true, M::kGetAndPost, S::kRequired, kAny, kEdit, F::kSignedIn, false, ""},
};

}  // namespace

const RouteSpec& RouteOf(const std::string& path) {
    for (const RouteSpec& row : kRoutes) {
        if (row.is_prefix ? path.rfind(row.path.data(), 0, row.path.size()) == 0 : path == row.path) return row;
    }
    return kRoutes[std::size(kRoutes) - 1];  // not reached: the page row takes every path
}

const char* AllowedMethods(const RouteSpec& route) {
    switch (route.methods) {
    case Methods::kGet:
        return "GET, HEAD";
    case Methods::kPost:
        return "POST";
    case Methods::kApi:
        return "GET, HEAD, POST, PUT, PATCH";
    case Methods::kGetAndPost:
        break;
    }
    return "GET, HEAD, POST";
}

}  // namespace tessera::console
