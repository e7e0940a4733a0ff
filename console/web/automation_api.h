// The automation API under /api/v1/: the settings of each policy, the
// approved list, History and the audit records as JSON, for a signed-in
// session or an automation token. Every change goes through the plug-in's
// own save or reset, in one store transaction with the check that the object
// is still the version the caller read (If-Match). Errors are RFC 9457
// problem details. The document of it all is web/api/openapi.json, served
// at /api/v1/openapi.json.
#pragma once

#include "account_directory.h"
#include "console_store.h"
#include "plugin_module.h"
#include "roles.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace tessera::console {

struct ApiSettings {
    std::size_t max_body_bytes = 64u << 20;  // of a request body, decoded
    int requests_per_minute = 600;           // per token
    std::filesystem::path document;          // the OpenAPI document
};

// An RFC 9457 problem details answer: `detail` in plain words, and the body
// member or query parameter it is about, if any.
void SendProblem(httplib::Response& response, int status, const std::string& detail, const std::string& field = {});

// The signed-in browser session of a request, if it has one.
struct SessionCaller {
    std::string user;  // empty: none
    Role role = Role::kAuditor;
};

class AutomationApi {
public:
    AutomationApi(const PluginModule& plugin, std::shared_ptr<host::ConsoleStore> store, AccountDirectory& accounts,
                  ApiSettings settings);

    // Answers a request whose path begins with kApiPrefix. A request with an
    // Authorization header is the token's alone; one without is the session's.
    void Handle(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader* reader,
                const SessionCaller& session);

private:
    struct Call;
    void Dispatch(Call& call);
    bool Admit(Call& call, const SessionCaller& session);
    void GetPolicies(Call& call);
    void GetPolicy(Call& call);
    void PutPolicy(Call& call);
    void ResetPolicy(Call& call);
    void GetList(Call& call);
    void ChangeList(Call& call);
    void MatchList(Call& call);
    void GetHistory(Call& call);
    void Restore(Call& call);
    void GetAudit(Call& call);
    void GetDocument(Call& call);
    void ExportList(Call& call);
    // Sends a policy's settings form, or the list's, through the plug-in with
    // `fill` completing it inside the action, and answers with the outcome.
    void PostSettingsForm(Call& call, const std::wstring& policy, const std::wstring& form_action, bool is_list,
                          const std::function<void(CCGIRequestData&)>& fill);

    const PluginModule& plugin_;
    std::shared_ptr<host::ConsoleStore> store_;
    AccountDirectory& accounts_;
    ApiSettings settings_;

    // Requests of each token in the current minute, and when its use was last noted.
    struct TokenTraffic {
        std::chrono::steady_clock::time_point minute_start;
        int requests = 0;
        std::chrono::steady_clock::time_point noted;
        bool is_noted = false;
    };
    std::mutex traffic_mutex_;
    std::map<std::string, TokenTraffic> traffic_;
};

}  // namespace tessera::console
