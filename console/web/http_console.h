// The web console's HTTP server: sign-in, sessions, static files, and every
// other path handed to the page plug-in as one request.
#pragma once

#include "access_log.h"
#include "account_directory.h"
#include "automation_api.h"
#include "connection_server.h"
#include "console_store.h"
#include "form_decoding.h"
#include "history_page.h"
#include "list_apart.h"
#include "mgmt_store.h"
#include "plugin_module.h"
#include "request_screening.h"
#include "routes.h"
#include "session_cookie.h"
#include "sessions.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace httplib {
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace tessera::console {

struct ConsoleSettings {
    std::string listen_host = "127.0.0.1";
    int listen_port = 8080;        // 0: any free port
    ConnectionLimits connections;  // its max_body_bytes is the console's body limit
    std::size_t max_form_fields = FormLimits{}.max_fields;
    SSL_CTX* tls_context = nullptr;  // HTTPS when set; the console takes its own reference
    SessionLimits sessions;
    // An account without a second factor may only enrol one after its password.
    bool require_two_factor = false;
    std::filesystem::path data_dir;    // access.log
    std::filesystem::path static_dir;  // served at /static/
    ApiSettings api;                   // its max_body_bytes is set from the console's
};

class HttpConsole {
public:
    // `plugin` must be initialized, and outlive the console.
    HttpConsole(ConsoleSettings settings, const PluginModule& plugin, std::shared_ptr<host::ConsoleStore> store);

    // Binds the listening socket and returns its port. Throws
    // std::runtime_error naming the address when it cannot.
    int Bind();
    // Serves until Stop; returns once the requests in flight are answered.
    void Serve();
    // Stops accepting; safe from any thread, also before Serve has started.
    void Stop();

private:
    // One request as the phases after the screening see it, read once.
    struct Exchange {
        const httplib::Request& request;
        httplib::Response& response;
        const RouteSpec& route;
        const httplib::ContentReader* reader;  // of a request with a body
        std::string session_id;                // of the session cookie, or empty
        bool wants_list_apart = false;
        std::string user_name;       // of the live session, when the route looks for one
        Role role = Role::kAuditor;  // of the session's account
        SessionOwner session;        // the live session, when there is one
        FormFields fields;           // of a POST's form
    };

    void Configure();
    void Handle(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader* reader);
    // False when the request needs a session it does not have (and is sent to
    // sign in), or a role its account does not hold (and is refused).
    bool Authenticate(Exchange& exchange);
    bool Authorize(Exchange& exchange);
    // False when the form is refused (and the refusal is the response).
    bool ReadForm(Exchange& exchange, const httplib::ContentReader& reader);
    void Content(Exchange& exchange, bool is_post);
    void HandleSignIn(Exchange& exchange);
    void HandleSecondFactor(Exchange& exchange);
    void HandleAccount(Exchange& exchange);
    void HandleAdministrators(Exchange& exchange);
    void HandlePasskeyOptions(Exchange& exchange);
    void HandlePasskeySignIn(Exchange& exchange);
    // The console as the relying party of the browser's passkeys: its host name and origin.
    RelyingParty PartyOf(const httplib::Request& request) const;
    void RenderAdministrators(Exchange& exchange, int status, const std::string& message, bool is_error);
    // Ends the sign-in of a session whose password and second factor (if
    // any) were right: a new session id, the record, and on to the settings.
    void CompleteSignIn(Exchange& exchange, const Account& account, const char* message);
    void RenderAccount(Exchange& exchange, int status, const std::string& message, bool is_error,
                       const std::vector<std::string>& recovery_codes = {}, const std::string& new_token = {});
    void HandleSignOut(Exchange& exchange);
    void ServePage(Exchange& exchange);
    void ServeStatic(Exchange& exchange);
    void ServeListApart(Exchange& exchange);
    // The list of the settings page as the plug-in makes it now, taken apart,
    // when its version is `list_version`; else null.
    std::optional<std::string> RemakeListApart(const Exchange& exchange, std::int64_t list_version);
    // A request to the plug-in for `page_id`, by the exchange's user and address.
    CCGIRequestData PageRequestOf(const Exchange& exchange, const std::wstring& page_id) const;
    void ServeHistory(Exchange& exchange, HistoryView view);
    void HandleRestore(Exchange& exchange);
    // An audit record of a sign-in, a refused one or a sign-out.
    void RecordAccess(const httplib::Request& request, const std::string& user_name, const char* action,
                      const std::string& message);
    void RenderSignIn(httplib::Response& response, int status, const std::string& message,
                      const std::string& user_name);
    void RenderSecondFactor(httplib::Response& response, int status, const std::string& message);
    // The throttle's wait for the address and the account, if either is barred.
    std::optional<long> SignInWait(const std::string& address, const std::string& user_name);
    void RecordSignInFailure(const httplib::Request& request, const std::string& user_name, const char* why);
    void LogAccess(const httplib::Request& request, const httplib::Response& response);

    ConsoleSettings settings_;
    const PluginModule& plugin_;
    std::shared_ptr<host::ConsoleStore> store_;
    ScreeningSettings screening_;
    AccountDirectory accounts_;
    AutomationApi api_;
    SessionTable sessions_;
    ChallengeTable passkey_challenges_;
    SignInThrottle throttle_;
    AccessLog access_log_;
    ListParcels list_parcels_;
    ConnectionServer server_;
    std::atomic<bool> is_stop_requested_{false};
    std::atomic<bool> has_finished_{false};
};

}  // namespace tessera::console
