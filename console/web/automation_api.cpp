// The automation API's endpoints.
#include "automation_api.h"

#include "change_words.h"
#include "history_page.h"
#include "hosted_pages.h"
#include "list_file.h"
#include "page_request.h"
#include "page_version.h"
#include "policy_settings.h"
#include "response_frame.h"
#include "response_head.h"
#include "responses.h"
#include "routes.h"

#include "cgi_request.h"
#include "os_string.h"
#include "text_util.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

namespace tessera::console {
namespace {

using httplib::Request;
using httplib::Response;
using Json = nlohmann::ordered_json;

constexpr char kJsonType[] = "application/json";
constexpr char kProblemType[] = "application/problem+json";
constexpr std::int64_t kMaxListPage = 10000;
constexpr std::int64_t kDefaultListPage = 1000;
constexpr std::int64_t kMaxHistoryPage = 1000;
constexpr std::int64_t kDefaultHistoryPage = 100;

enum class Endpoint {
    kDocument,
    kPolicies,
    kPolicy,
    kPolicyReset,
    kList,
    kListMatch,
    kHistory,
    kRestore,
    kAudit,
};

// The API's endpoints, each with the least role that may call it and
// whether it changes something (which a read token may not). A path segment
// in braces is a parameter.
struct EndpointSpec {
    Endpoint endpoint;
    const char* method;
    std::string_view path;  // after kApiPrefix
    Role role;
    bool is_write;
    bool is_public;  // no sign-in: the document describes, it holds nothing
};

constexpr EndpointSpec kEndpoints[] = {
    {Endpoint::kDocument, "GET", "openapi.json", Role::kAuditor, false, true},
    {Endpoint::kPolicies, "GET", "policies", Role::kAuditor, false, false},
    {Endpoint::kPolicy, "GET", "policies/{id}", Role::kAuditor, false, false},
    {Endpoint::kPolicy, "PUT", "policies/{id}", Role::kEditor, true, false},
    {Endpoint::kPolicyReset, "POST", "policies/{id}/reset", Role::kEditor, true, false},
    {Endpoint::kList, "GET", "approved-list", Role::kAuditor, false, false},
    {Endpoint::kList, "PUT", "approved-list", Role::kEditor, true, false},
    {Endpoint::kList, "PATCH", "approved-list", Role::kEditor, true, false},
    {Endpoint::kListMatch, "GET", "approved-list/match", Role::kAuditor, false, false},
    {Endpoint::kHistory, "GET", "history", Role::kAuditor, false, false},
    {Endpoint::kRestore, "POST", "history/{record}/restore", Role::kEditor, true, false},
    {Endpoint::kAudit, "GET", "audit", Role::kAuditor, false, false},
};

std::vector<std::string_view> Segments(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

// True when `path` has the shape of `pattern`; the parameter, if any, in `parameter`.
bool PathMatches(std::string_view pattern, std::string_view path, std::string& parameter) {
    const std::vector<std::string_view> want = Segments(pattern);
    const std::vector<std::string_view> have = Segments(path);
    if (want.size() != have.size()) return false;
    for (std::size_t index = 0; index < want.size(); ++index) {
        if (!want[index].empty() && want[index].front() == '{') {
            if (have[index].empty()) return false;
            parameter = std::string(have[index]);
        } else if (want[index] != have[index]) {
            return false;
        }
    }
    return true;
}

std::string Dumped(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// True when an If-Match value names `tag` (strong comparison), or is "*".
bool IfMatchNames(const std::string& header, const std::string& tag) {
    if (host::TrimmedBlanks(header) == "*") return true;
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(',', start);
        if (end == std::string::npos) end = header.size();
        if (host::TrimmedBlanks(std::string_view(header).substr(start, end - start)) == tag) return true;
        start = end + 1;
    }
    return false;
}

std::string PolicyLabel(const std::wstring& policy) {
    for (const HostedPolicy& hosted : kHostedPolicies) {
        if (OS::ToUtf8(policy) == hosted.instance) return hosted.label;
    }
    return OS::ToUtf8(policy);
}

Json RecordJson(const host::HistoryRecord& entry) {
    const host::AuditRecord& record = entry.record;
    Json json = {
        {"seq", record.seq},
        {"time", record.time},
        {"user", OS::ToUtf8(record.context[0])},
        {"address", OS::ToUtf8(record.context[1])},
        {"page", OS::ToUtf8(record.context[2])},
        {"event", EventTypeName(record.event_type)},
        {"source", SourceTypeName(record.source_type)},
        {"action", record.action},
        {"channel", record.channel},
        {"token", record.token},
        {"message", OS::ToUtf8(record.message)},
        {"changes", entry.changes_summary.empty() ? Json(nullptr) : Json(ChangeSentence(entry.changes_summary))},
        {"rolledBack", record.rolled_back.empty() ? Json(nullptr) : Json(record.rolled_back)},
    };
    return json;
}

// Adds the stored approved list to `form` inside an action, but for the
// entries in `removed` (letter case folded). Throws host::AbandonedAction when
// the list cannot be read, for a save would then empty it.
void AddStoredEntries(host::ConsoleStore& store, CCGIRequestData& form, const std::set<std::wstring>& removed = {}) {
    host::PropertyBag list;
    if (!store.Load(kApprovedListClass, kApprovedListInstance, list)) {
        throw host::AbandonedAction("the approved list cannot be read");
    }
    // Most entries differ from every removed one in length: they are not folded to be compared.
    std::set<std::size_t> removed_lengths;
    for (const std::wstring& entry : removed) removed_lengths.insert(entry.size());
    ForEachApprovedEntry(list, [&](std::wstring_view entry) {
        if (removed_lengths.count(entry.size()) != 0 && removed.count(FoldedCase(entry)) != 0) return;
        form.AddField(kApprovedListField, OS::x_wstring(entry.data(), entry.size()));
    });
}

// The form action the plug-in's settings form sends for a reset.
constexpr wchar_t kResetAction[] = L"Reset";
constexpr wchar_t kSaveAction[] = L"save";

}  // namespace

void SendProblem(Response& response, int status, const std::string& detail, const std::string& field) {
    Json problem = {{"type", "about:blank"}, {"title", ReasonPhrase(status)}, {"status", status}, {"detail", detail}};
    if (!field.empty()) problem["field"] = field;
    response.status = status;
    SetContent(response, Dumped(problem), kProblemType);
}

// One API request on its way: what it asked, who asks, and its answer.
struct AutomationApi::Call {
    const Request& request;
    Response& response;
    const httplib::ContentReader* reader;
    const EndpointSpec* endpoint = nullptr;
    std::string parameter;  // of the path
    std::string user;
    Role role = Role::kAuditor;
    bool may_write = false;
    std::string token_name;  // empty for a session
    bool is_body_read = false;

    host::ActionChannel Channel() const { return {"api", token_name}; }

    void Problem(int status, const std::string& detail, const std::string& field = {}) {
        SendProblem(response, status, detail, field);
    }

    void Send(int status, const Json& body, const std::string& etag = {}) {
        response.status = status;
        if (!etag.empty()) response.set_header("ETag", etag);
        SetContent(response, Dumped(body), kJsonType);
    }

    // The query parameter `name`, or empty.
    std::string Query(const char* name) const { return request.get_param_value(name); }

    // The body, read to its end within the limit; null when it is refused (and answered).
    std::optional<std::string> Body(std::size_t limit) {
        if (reader == nullptr) {
            Problem(400, "This request needs a body.");
            return std::nullopt;
        }
        std::string body;
        bool is_too_large = false;
        const bool is_read = (*reader)([&](const char* data, std::size_t length) {
            if (body.size() + length > limit) {
                is_too_large = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        is_body_read = is_read;
        if (is_too_large) {
            Problem(413, "The body is larger than " + std::to_string(limit) + " bytes (serve --max-body).");
            return std::nullopt;
        }
        if (!is_read) {
            Problem(400, "The body could not be read.");
            return std::nullopt;
        }
        return body;
    }

    bool HasType(const char* type) const {
        const std::string value = request.get_header_value("Content-Type");
        const std::string bare =
            host::FoldAsciiCase(std::string(host::TrimmedBlanks(value.substr(0, value.find(';')))));
        return bare == type;
    }

    // A JSON object body; null when refused (and answered).
    std::optional<nlohmann::json> JsonBody(std::size_t limit) {
        if (!HasType(kJsonType)) {
            Problem(415, "The body must be application/json.");
            return std::nullopt;
        }
        std::optional<std::string> text = Body(limit);
        if (!text) return std::nullopt;
        nlohmann::json body = nlohmann::json::parse(*text, nullptr, false);
        if (body.is_discarded()) {
            Problem(400, "The body is not valid JSON.");
            return std::nullopt;
        }
        if (!body.is_object()) {
            Problem(422, "The body must be a JSON object.", "");
            return std::nullopt;
        }
        return body;
    }

    // The If-Match header; empty (and 428 answered) when it is missing.
    std::string IfMatch() {
        const std::string value = request.get_header_value("If-Match");
        if (value.empty()) {
            Problem(428,
                    "A change needs an If-Match header with the ETag of what it changes, as a GET of it gave it; "
                    "so no one's change is overwritten unseen.");
        }
        return value;
    }

    void Conflict(const std::string& current_tag) {
        response.set_header("ETag", current_tag);
        Problem(412, "It changed since it was read: its ETag is now " + current_tag +
                         ". Read it again, apply the change to what it holds now, and send it with the new ETag.");
    }

    void Refused(const std::string& refusal) {
        response.set_header("Retry-After", kRetryAfterSeconds);
        Problem(503, "Nothing was stored: " + refusal + ".");
    }

    CCGIRequestData Form(const std::wstring& page_id) const {
        CCGIRequestData form;
        form.SetPageID(page_id);
        form.SetBaseURL(L"/");
        form.SetSignedInUser(OS::FromUtf8(user));
        form.SetClientAddress(OS::FromUtf8(request.remote_addr));
        return form;
    }
};

AutomationApi::AutomationApi(const PluginModule& plugin, std::shared_ptr<host::ConsoleStore> store,
                             AccountDirectory& accounts, ApiSettings settings)
    : plugin_(plugin), store_(std::move(store)), accounts_(accounts), settings_(std::move(settings)) {}

void AutomationApi::Handle(const Request& request, Response& response, const httplib::ContentReader* reader,
                           const SessionCaller& session) {
    Call call{request, response, reader, nullptr, {}, {}, Role::kAuditor, false, {}, false};
    const std::string_view path = std::string_view(request.path).substr(std::string_view(kApiPrefix).size());
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    std::string allowed;
    for (const EndpointSpec& endpoint : kEndpoints) {
        std::string parameter;
        if (!PathMatches(endpoint.path, path, parameter)) continue;
        const std::string method_name = endpoint.method;
        allowed += (allowed.empty() ? "" : ", ") + (method_name == "GET" ? std::string("GET, HEAD") : method_name);
        if (method == endpoint.method) {
            call.endpoint = &endpoint;
            call.parameter = std::move(parameter);
        }
    }
    if (call.endpoint == nullptr) {
        if (allowed.empty()) return call.Problem(404, "There is no such endpoint; /api/v1/openapi.json lists them.");
        response.set_header("Allow", allowed);
        if (SendsBody(request.method)) response.set_header("Connection", "close");
        return call.Problem(405, "This endpoint takes " + allowed + ".");
    }
    if (call.endpoint->is_public || Admit(call, session)) Dispatch(call);
    // What is left of a body not read is no request: the connection ends with the answer.
    if (SendsBody(request.method) && !call.is_body_read) response.set_header("Connection", "close");
}

// Who calls, and whether they may: a token (its scope and its account's
// role as it is now), else the signed-in session.
bool AutomationApi::Admit(Call& call, const SessionCaller& session) {
    const std::string authorization = call.request.get_header_value("Authorization");
    if (!authorization.empty()) {
        constexpr std::string_view kBearer = "Bearer ";
        if (authorization.size() <= kBearer.size() ||
            !host::EqualsIgnoringAsciiCase(std::string_view(authorization).substr(0, kBearer.size()), kBearer)) {
            call.response.set_header("WWW-Authenticate", "Bearer");
            call.Problem(401, "The Authorization header must be \"Bearer\" and a token.");
            return false;
        }
        const std::string secret(host::TrimmedBlanks(std::string_view(authorization).substr(kBearer.size())));
        const auto opened = accounts_.OpenToken(secret, std::time(nullptr));
        if (const std::string* why = std::get_if<std::string>(&opened)) {
            call.response.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
            call.Problem(401, "The token opens nothing: " + *why + ".");
            return false;
        }
        const AccountDirectory::TokenHolder& holder = std::get<AccountDirectory::TokenHolder>(opened);
        const auto now = std::chrono::steady_clock::now();
        bool is_noted = true;
        {
            const std::lock_guard lock(traffic_mutex_);
            TokenTraffic& traffic = traffic_[holder.token.id];
            if (traffic.requests == 0 || now - traffic.minute_start >= std::chrono::minutes(1)) {
                traffic.minute_start = now;
                traffic.requests = 0;
            }
            if (++traffic.requests > settings_.requests_per_minute) {
                const auto wait = std::chrono::duration_cast<std::chrono::seconds>(traffic.minute_start +
                                                                                   std::chrono::minutes(1) - now);
                call.response.set_header("Retry-After", std::to_string(std::max<long long>(1, wait.count() + 1)));
                call.Problem(429, "This token has made " + std::to_string(settings_.requests_per_minute) +
                                      " requests this minute, as many as it may (serve --api-rate-limit).");
                return false;
            }
            // Its last use is written at most once a minute, so that reading stays free of writes.
            if (!traffic.is_noted || now - traffic.noted >= std::chrono::minutes(1)) {
                traffic.noted = now;
                traffic.is_noted = true;
                is_noted = false;
            }
        }
        if (!is_noted) accounts_.NoteTokenUse(holder.token.id, call.request.remote_addr, std::time(nullptr));
        call.user = holder.account.name;
        call.role = holder.account.role;
        call.may_write = holder.token.scope == TokenScope::kWrite;
        call.token_name = holder.token.name;
    } else if (!session.user.empty()) {
        call.user = session.user;
        call.role = session.role;
        call.may_write = true;
    } else {
        call.response.set_header("WWW-Authenticate", "Bearer");
        call.Problem(401, "Sign in: send a token as \"Authorization: Bearer\", or a session cookie of the console.");
        return false;
    }
    const EndpointSpec& endpoint = *call.endpoint;
    if (endpoint.is_write && !call.may_write) {
        call.Problem(403, "Nothing was changed: the token \"" + call.token_name + "\" reads only.");
        return false;
    }
    if (!Permits(call.role, endpoint.role)) {
        call.Problem(403, "Nothing was changed: the account \"" + call.user + "\" is an " +
                              std::string(RoleName(call.role)) + ", and this takes an " +
                              std::string(RoleName(endpoint.role)) + "'s account.");
        return false;
    }
    return true;
}

void AutomationApi::Dispatch(Call& call) {
    switch (call.endpoint->endpoint) {
    case Endpoint::kDocument:
        return GetDocument(call);
    case Endpoint::kPolicies:
        return GetPolicies(call);
    case Endpoint::kPolicy:
        return call.request.method == "PUT" ? PutPolicy(call) : GetPolicy(call);
    case Endpoint::kPolicyReset:
        return ResetPolicy(call);
    case Endpoint::kList:
        return call.request.method == "GET" || call.request.method == "HEAD" ? GetList(call) : ChangeList(call);
    case Endpoint::kListMatch:
        return MatchList(call);
    case Endpoint::kHistory:
        return GetHistory(call);
    case Endpoint::kRestore:
        return Restore(call);
    case Endpoint::kAudit:
        return GetAudit(call);
    }
}

void AutomationApi::GetDocument(Call& call) {
    std::ifstream file(settings_.document, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf())) {
        return call.Problem(500, "The API's document is missing; reinstall the console's resources.");
    }
    call.response.status = 200;
    call.response.set_header("Cache-Control", "max-age=300");
    SetContent(call.response, text.str(), kJsonType);
}

void AutomationApi::GetPolicies(Call& call) {
    Json policies = Json::array();
    const std::optional<std::string> failure = store_->RunReading([&] {
        for (const std::wstring& policy : HostedPolicyNames(*store_)) {
            policies.push_back({{"id", OS::ToUtf8(policy)},
                                {"name", PolicyLabel(policy)},
                                {"etag", PolicyTag(policy, store_->VersionOf(kPolicyClass, policy))},
                                {"href", std::string(kApiPrefix) + "policies/" + OS::ToUtf8(policy)}});
        }
    });
    if (failure) return call.Problem(503, "The store cannot be read: " + *failure + ".");
    call.Send(200, {{"policies", policies}});
}

void AutomationApi::GetPolicy(Call& call) {
    const std::wstring policy = OS::FromUtf8(call.parameter);
    host::PropertyBag stored;
    bool is_found = false;
    std::int64_t version = 0;
    const std::optional<std::string> failure = store_->RunReading([&] {
        const std::vector<std::wstring> hosted = HostedPolicyNames(*store_);
        is_found = std::find(hosted.begin(), hosted.end(), policy) != hosted.end() &&
                   store_->Load(kPolicyClass, policy, stored);
        version = store_->VersionOf(kPolicyClass, policy);
    });
    if (failure) return call.Problem(503, "The store cannot be read: " + *failure + ".");
    if (!is_found) return call.Problem(404, "There is no policy \"" + call.parameter + "\".", "id");
    Json body = {{"id", call.parameter}, {"name", PolicyLabel(policy)}};
    body.update(SettingsOf(stored));
    call.Send(200, body, PolicyTag(policy, version));
}

void AutomationApi::PutPolicy(Call& call) {
    const std::wstring policy = OS::FromUtf8(call.parameter);
    const std::string if_match = call.IfMatch();
    if (if_match.empty()) return;
    const std::optional<nlohmann::json> body = call.JsonBody(settings_.max_body_bytes);
    if (!body) return;
    CCGIRequestData settings_fields;
    try {
        AddSettingsFields(*body, settings_fields);
    } catch (const SettingsError& error) {
        return call.Problem(422, error.Pointer() + ": " + error.what() + ".", error.Pointer());
    }
    PostSettingsForm(call, policy, kSaveAction, false, [&](CCGIRequestData& form) {
        settings_fields.ForEachField([&form](const OS::x_wstring& name, const OS::x_wstring& value) {
            form.AddField(name, value);
            return true;
        });
        // The form saves the list too: it sends the list as it is stored.
        AddStoredEntries(*store_, form);
    });
}

void AutomationApi::ResetPolicy(Call& call) {
    if (call.IfMatch().empty()) return;
    PostSettingsForm(call, OS::FromUtf8(call.parameter), kResetAction, false, {});
}

void AutomationApi::PostSettingsForm(Call& call, const std::wstring& policy, const std::wstring& form_action,
                                     bool is_list, const std::function<void(CCGIRequestData&)>& fill) {
    const std::string if_match = call.request.get_header_value("If-Match");
    CCGIRequestData form = call.Form(kSettingsPageId);
    form.AddField(kFormActionField, form_action);
    form.AddField(kPolicyField, policy);
    bool is_missing = false;
    std::string conflict_tag;
    std::string new_tag;
    std::size_t count = 0;
    host::PropertyBag after;
    const auto checked_tag = [&] {
        return is_list ? ListTag(store_->VersionOf(kApprovedListClass, kApprovedListInstance))
                       : PolicyTag(policy, store_->VersionOf(kPolicyClass, policy));
    };
    const PageAnswer answer = AnswerPreparedAction(
        plugin_, *store_, form,
        [&](CCGIRequestData& request) {
            const std::vector<std::wstring> hosted = HostedPolicyNames(*store_);
            if (std::find(hosted.begin(), hosted.end(), policy) == hosted.end()) {
                is_missing = true;
                throw host::AbandonedAction("no such policy");
            }
            if (const std::string tag = checked_tag(); !IfMatchNames(if_match, tag)) {
                conflict_tag = tag;
                throw host::AbandonedAction("changed since it was read");
            }
            if (fill) fill(request);
        },
        [&](const char*) {
            new_tag = checked_tag();
            host::PropertyBag list;
            if (store_->Load(kApprovedListClass, kApprovedListInstance, list)) count = ApprovedEntryCount(list);
            store_->Load(kPolicyClass, policy, after);
        },
        call.Channel());
    if (is_missing) return call.Problem(404, "There is no policy \"" + OS::ToUtf8(policy) + "\".", "id");
    if (!conflict_tag.empty()) return call.Conflict(conflict_tag);
    if (!answer.outcome.is_stored) return call.Refused(answer.outcome.refusal);
    Json body = {{"etag", new_tag},
                 {"changes", ChangeSentence(answer.outcome.changes_summary)},
                 {"record", answer.outcome.audit_seq}};
    if (is_list) {
        body["total"] = count;
    } else {
        Json settings = {{"id", OS::ToUtf8(policy)}, {"name", PolicyLabel(policy)}};
        settings.update(SettingsOf(after));
        body["policy"] = std::move(settings);
    }
    call.Send(200, body, new_tag);
}

void AutomationApi::GetList(Call& call) {
    const std::string accept = call.request.get_header_value("Accept");
    if (accept.find("text/plain") != std::string::npos && accept.find(kJsonType) == std::string::npos) {
        return ExportList(call);
    }
    std::optional<std::int64_t> limit = kDefaultListPage;
    if (!call.Query("limit").empty()) limit = DecimalOf(call.Query("limit"));
    if (!limit || *limit == 0 || *limit > kMaxListPage) {
        return call.Problem(400, "limit is a number from 1 to " + std::to_string(kMaxListPage) + ".", "limit");
    }
    std::optional<std::int64_t> cursor = 0;
    if (!call.Query("cursor").empty()) cursor = DecimalOf(call.Query("cursor"));
    if (!cursor) return call.Problem(400, "cursor is what an earlier page gave as next.", "cursor");
    const std::wstring contains = FoldedCase(OS::FromUtf8(call.Query("contains")));
    std::vector<std::wstring> entries;
    std::int64_t version = 0;
    const std::optional<std::string> failure = store_->RunReading([&] {
        host::PropertyBag list;
        if (store_->Load(kApprovedListClass, kApprovedListInstance, list)) entries = ApprovedEntries(list);
        version = store_->VersionOf(kApprovedListClass, kApprovedListInstance);
    });
    if (failure) return call.Problem(503, "The store cannot be read: " + *failure + ".");
    Json page = Json::array();
    std::int64_t matching = 0;
    for (const std::wstring& entry : entries) {
        if (!contains.empty() && FoldedCase(entry).find(contains) == std::wstring::npos) continue;
        if (matching >= *cursor && matching < *cursor + *limit) page.push_back(OS::ToUtf8(entry));
        ++matching;
    }
    const std::int64_t next = *cursor + *limit;
    call.Send(200,
              {{"total", entries.size()},
               {"matching", matching},
               {"entries", page},
               {"next", next < matching ? Json(std::to_string(next)) : Json(nullptr)}},
              ListTag(version));
}

// The export file, through the plug-in's export page (audited as an export).
void AutomationApi::ExportList(Call& call) {
    CCGIRequestData request = call.Form(kExportPageId);
    std::string tag;
    const PageAnswer answer = AnswerPreparedAction(
        plugin_, *store_, request,
        [&](CCGIRequestData& form) {
            host::PropertyBag list;
            std::wstring joined;
            if (store_->Load(kApprovedListClass, kApprovedListInstance, list)) {
                for (const std::wstring& entry : ApprovedEntries(list)) joined += entry + L";";
            }
            form.AddField(kExportListField, joined);
            tag = ListTag(store_->VersionOf(kApprovedListClass, kApprovedListInstance));
        },
        {}, call.Channel());
    const std::optional<ResponseFrame> frame =
        answer.response ? ParseResponseFrame(answer.response.get()) : std::nullopt;
    if (!answer.outcome.is_stored || !frame) {
        return call.Refused(answer.outcome.is_stored ? "the plug-in made no export" : answer.outcome.refusal);
    }
    std::string content_type = "text/plain; charset=utf-8";
    for (const auto& [name, value] : frame->headers) {
        if (host::EqualsIgnoringAsciiCase(name, "Content-Type")) content_type = value;
        if (host::EqualsIgnoringAsciiCase(name, "Content-Disposition")) call.response.set_header(name, value);
    }
    call.response.status = 200;
    call.response.set_header("ETag", tag);
    SetContent(call.response, std::string(frame->body), content_type);
}

void AutomationApi::ChangeList(Call& call) {
    const std::string if_match = call.IfMatch();
    if (if_match.empty()) return;
    const bool is_patch = call.request.method == "PATCH";
    std::vector<std::wstring> added;
    std::set<std::wstring> removed;  // letter case folded
    if (!is_patch && call.HasType("text/plain")) {
        const std::optional<std::string> text = call.Body(settings_.max_body_bytes);
        if (!text) return;
        added = EntriesOfListFile(*text);
    } else {
        const std::optional<nlohmann::json> body = call.JsonBody(settings_.max_body_bytes);
        if (!body) return;
        const std::vector<std::string> members =
            is_patch ? std::vector<std::string>{"add", "remove"} : std::vector<std::string>{"entries"};
        for (const auto& [name, value] : body->items()) {
            if (std::find(members.begin(), members.end(), name) == members.end()) {
                return call.Problem(422, "There is no member \"" + name + "\" here.", "/" + name);
            }
        }
        for (const std::string& member : members) {
            if (!body->contains(member)) {
                if (is_patch) continue;
                return call.Problem(422, "The whole list goes in \"entries\".", "/entries");
            }
            const nlohmann::json& texts = body->at(member);
            if (!texts.is_array()) return call.Problem(422, "\"" + member + "\" must be an array.", "/" + member);
            for (std::size_t index = 0; index < texts.size(); ++index) {
                const std::string pointer = "/" + member + "/" + std::to_string(index);
                if (!texts[index].is_string() || texts[index].get_ref<const std::string&>().empty() ||
                    texts[index].get_ref<const std::string&>().find('\0') != std::string::npos) {
                    return call.Problem(422, "An entry is a text, not empty, without NUL.", pointer);
                }
                std::wstring entry = OS::FromUtf8(texts[index].get<std::string>());
                if (member == "remove") {
                    removed.insert(FoldedCase(std::move(entry)));
                } else {
                    added.push_back(std::move(entry));
                }
            }
        }
    }
    // As the settings page saves the list: the first policy's form, its other settings as stored.
    const std::wstring policy = OS::FromUtf8(kHostedPolicies[0].instance);
    PostSettingsForm(call, policy, kSaveAction, true, [&](CCGIRequestData& form) {
        host::PropertyBag stored;
        if (!store_->Load(kPolicyClass, policy, stored)) throw host::AbandonedAction("the policy cannot be read");
        AddSettingsFields(SettingsOf(stored), form);
        if (is_patch) AddStoredEntries(*store_, form, removed);
        for (const std::wstring& entry : added) form.AddField(kApprovedListField, entry);
    });
}

void AutomationApi::MatchList(Call& call) {
    const std::string url = call.Query("url");
    if (url.empty()) return call.Problem(400, "Name the URL to look up: ?url=", "url");
    const std::wstring address = HostAndPathOf(OS::FromUtf8(url));
    if (address.empty()) return call.Problem(400, "The URL names no host.", "url");
    std::vector<std::wstring> entries;
    const std::optional<std::string> failure = store_->RunReading([&] {
        host::PropertyBag list;
        if (store_->Load(kApprovedListClass, kApprovedListInstance, list)) entries = ApprovedEntries(list);
    });
    if (failure) return call.Problem(503, "The store cannot be read: " + *failure + ".");
    const std::wstring* entry = ApprovingEntry(entries, OS::FromUtf8(url));
    call.Send(200, {{"url", url},
                    {"host", OS::ToUtf8(address.substr(0, address.find(L'/')))},
                    {"approved", entry != nullptr},
                    {"entry", entry ? Json(OS::ToUtf8(*entry)) : Json(nullptr)}});
}

namespace {

// The query's filters as History and `tessera-console audit` take them; the
// name of a parameter it cannot take, or empty.
std::string ReadFilters(const Request& request, host::HistoryQuery& query) {
    query.action = request.get_param_value("action");
    if (!query.action.empty() &&
        std::find(ActionNames().begin(), ActionNames().end(), query.action) == ActionNames().end()) {
        return "action";
    }
    for (const auto& [name, bound] : {std::pair{"since", &query.since}, std::pair{"until", &query.until}}) {
        *bound = request.get_param_value(name);
        if (!bound->empty() && !IsTimeBound(*bound)) return name;
    }
    return {};
}

}  // namespace

void AutomationApi::GetHistory(Call& call) {
    host::HistoryQuery query;
    if (const std::string wrong = ReadFilters(call.request, query); !wrong.empty()) {
        return call.Problem(400, wrong + " cannot be \"" + call.Query(wrong.c_str()) + "\".", wrong);
    }
    std::optional<std::int64_t> limit = kDefaultHistoryPage;
    if (!call.Query("limit").empty()) limit = DecimalOf(call.Query("limit"));
    if (!limit || *limit == 0 || *limit > kMaxHistoryPage) {
        return call.Problem(400, "limit is a number from 1 to " + std::to_string(kMaxHistoryPage) + ".", "limit");
    }
    query.limit = *limit;
    if (!call.Query("before").empty()) {
        query.before_seq = RecordSeqOf(call.Query("before"));
        if (query.before_seq == 0) return call.Problem(400, "before is a record's number.", "before");
    }
    std::vector<host::HistoryRecord> records;
    std::int64_t newest = 0;
    try {
        records = store_->ReadHistory(query);
        host::HistoryQuery latest;
        latest.limit = 1;
        const std::vector<host::HistoryRecord> last = store_->ReadHistory(latest);
        newest = last.empty() ? 0 : last.front().record.seq;
    } catch (const std::runtime_error& error) {
        return call.Problem(503, std::string("The store cannot be read: ") + error.what() + ".");
    }
    Json items = Json::array();
    for (const host::HistoryRecord& entry : records) items.push_back(RecordJson(entry));
    const bool has_older = records.size() == query.limit && records.back().record.seq > 1;
    call.Send(
        200,
        {{"records", items}, {"next", has_older ? Json(std::to_string(records.back().record.seq)) : Json(nullptr)}},
        AuditTag(newest));
}

void AutomationApi::Restore(Call& call) {
    const std::string if_match = call.IfMatch();
    if (if_match.empty()) return;
    const std::int64_t seq = RecordSeqOf(call.parameter);
    if (seq == 0) return call.Problem(404, "There is no record \"" + call.parameter + "\".", "record");
    std::string conflict_tag;
    std::string error;
    const host::ActionOutcome outcome =
        RestoreBefore(*store_, seq, call.user, call.request.remote_addr, error, call.Channel(), [&] {
            host::HistoryQuery latest;
            latest.limit = 1;
            const std::vector<host::HistoryRecord> last = store_->ReadHistory(latest);
            const std::string tag = AuditTag(last.empty() ? 0 : last.front().record.seq);
            if (!IfMatchNames(if_match, tag)) {
                conflict_tag = tag;
                throw host::AbandonedAction("History has newer records");
            }
        });
    if (!conflict_tag.empty()) return call.Conflict(conflict_tag);
    if (!outcome.is_stored) {
        if (!error.empty()) return call.Problem(409, error, "record");
        return call.Refused(outcome.refusal);
    }
    call.Send(200,
              {{"etag", AuditTag(outcome.audit_seq)},
               {"changes", ChangeSentence(outcome.changes_summary)},
               {"record", outcome.audit_seq}},
              AuditTag(outcome.audit_seq));
}

void AutomationApi::GetAudit(Call& call) {
    host::HistoryQuery query;
    if (const std::string wrong = ReadFilters(call.request, query); !wrong.empty()) {
        return call.Problem(400, wrong + " cannot be \"" + call.Query(wrong.c_str()) + "\".", wrong);
    }
    if (!call.Query("limit").empty()) {
        const std::optional<std::int64_t> limit = DecimalOf(call.Query("limit"));
        if (!limit || *limit == 0) return call.Problem(400, "limit is a number from 1 up.", "limit");
        query.limit = *limit;
    }
    std::vector<host::HistoryRecord> records;
    try {
        records = store_->ReadHistory(query);
    } catch (const std::runtime_error& error) {
        return call.Problem(503, std::string("The store cannot be read: ") + error.what() + ".");
    }
    Json items = Json::array();
    for (auto entry = records.rbegin(); entry != records.rend(); ++entry) items.push_back(RecordJson(*entry));
    call.Send(200, {{"records", items}});
}

}  // namespace tessera::console
