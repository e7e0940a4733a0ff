// The web console's route table: every path it answers on its own, each
// declared once with the methods it takes, whether it needs a session, the
// role that may read it and the role that may post to it, the form it reads
// and what any other method is told. Every other path is a page of the
// plug-in. The content phase of HttpConsole runs one handler per Route.
#pragma once

#include "roles.h"

#include <string>
#include <string_view>

namespace tessera::console {

inline constexpr char kRootPath[] = "/";
inline constexpr char kSignInPath[] = "/login";
inline constexpr char kSignOutPath[] = "/logout";
inline constexpr char kSecondFactorPath[] = "/login/code";
inline constexpr char kPasskeySignInPath[] = "/login/passkey";
inline constexpr char kPasskeyOptionsPath[] = "/passkey/options";
inline constexpr char kAccountPath[] = "/account";
inline constexpr char kAdministratorsPath[] = "/administrators";
inline constexpr char kHistoryPath[] = "/history";
inline constexpr char kRestorePath[] = "/history/restore";
// Made by the console, not read from the static folder (see PageNamesModule).
inline constexpr char kPageNamesPath[] = "/static/js/page_names.js";
inline constexpr char kStaticPrefix[] = "/static/";
inline constexpr char kStyleSheetPath[] = "/static/css/tessera.css";
// Followed by the token of one list parcel.
inline constexpr char kListApartPrefix[] = "/approved-list/";
// The automation API: JSON, with its own table of endpoints (api_endpoints.h).
inline constexpr char kApiPrefix[] = "/api/v1/";

enum class Route {
    kRoot,
    kSignIn,
    kSecondFactor,
    kPasskeySignIn,
    kPasskeyOptions,
    kSignOut,
    kAccount,
    kAdministrators,
    kHistory,
    kRestore,
    kPageNames,
    kStaticFile,
    kApprovedList,
    kApi,
    kPage
};

// kGet stands for HEAD as well; kApi is GET, HEAD, POST, PUT and PATCH.
enum class Methods { kGet, kPost, kGetAndPost, kApi };

enum class SessionNeed {
    kNone,          // the session, if any, is not looked at
    kIfAny,         // the session's user is looked up, at any stage, and there need not be one
    kPasswordOnly,  // a session whose password was right and whose second factor is to come
    kEnrolment,     // a signed-in session, or one that may only enrol a second factor
    kRequired,      // a signed-in session; without one the request goes where its sign-in goes on
};

enum class FormKind {
    kNone,
    kCredentials,  // a password or a code (sign-in, second factor, account): small limits of its own
    kSignedIn,     // a signed-in account's: the console's body and field limits
    kOwn,          // read by the route's handler, in its own way
};

struct RouteSpec {
    Route route;
    std::string_view path;  // the whole path, or its beginning when is_prefix
    bool is_prefix;
    Methods methods;
    SessionNeed session;
    Role reader;               // the least role whose session may GET it (when it needs a session)
    Role poster;               // and POST to it; a hosted page whose form is read-only takes the reader
    FormKind form;             // read from a POST before its handler runs
    bool is_entry;             // a navigation from another site may reach it
    const char* wrong_method;  // the 405's sentence for a method it does not take
};

// The route of the percent-decoded path `path`: a row of the table, and the
// plug-in's page row for any path that is none of the console's own.
const RouteSpec& RouteOf(const std::string& path);

// The Allow header value of the route's methods.
const char* AllowedMethods(const RouteSpec& route);

// True for a route whose every request changes something: a GET or HEAD of
// one is refused before it is routed.
inline bool IsChangeRoute(const RouteSpec& route) { return route.methods == Methods::kPost; }

// True for a method that sends a body: POST, PUT and PATCH.
inline bool SendsBody(const std::string& method) { return method == "POST" || method == "PUT" || method == "PATCH"; }

inline bool TakesMethod(const RouteSpec& route, const std::string& method) {
    if (route.methods == Methods::kApi) return true;
    if (method == "PUT" || method == "PATCH") return false;
    return method == "POST" ? route.methods != Methods::kGet : route.methods != Methods::kPost;
}

}  // namespace tessera::console
