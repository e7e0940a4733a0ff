// The web console's HTTP server.
#include "http_console.h"

#include "account_page.h"
#include "authenticator.h"
#include "cgi_request.h"
#include "change_words.h"
#include "confined_path.h"
#include "console_store.h"
#include "debug_log.h"
#include "history_page.h"
#include "hosted_pages.h"
#include "html_doc.h"
#include "os_string.h"
#include "page_parts.h"
#include "page_request.h"
#include "page_version.h"
#include "response_frame.h"
#include "response_head.h"
#include "responses.h"
#include "rotating_log_file.h"
#include "routes.h"
#include "static_files.h"
#include "text_util.h"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tessera::console {
namespace {

using httplib::Request;
using httplib::Response;

// A user name and a password; anyone may send this form, so it stays small.
constexpr std::size_t kMaxCredentialsBodyBytes = 8 * 1024;
constexpr std::size_t kMaxCredentialsFields = 16;
constexpr char kStrictTransportSecurity[] = "max-age=31536000";
// How long a log line may wait in memory while the console serves.
constexpr std::chrono::milliseconds kLogWriteDelay{100};

// What the access log needs to know of the request being served on this
// thread: the library runs a request's handlers and its logger on one thread.
// The route is found here once, in the screening phase, for every later one.
struct RequestTrace {
    bool is_routed = false;
    SteadyClock::time_point start;
    std::string user_name;
    const RouteSpec* route = nullptr;
};
thread_local RequestTrace t_trace;

void StartTrace(const Request& request) {
    t_trace = RequestTrace{true, SteadyClock::now(), {}, &RouteOf(request.path)};
}

// True when an Accept-Encoding value offers gzip with a weight above 0.
bool OffersGzip(const std::string& accepted) {
    std::size_t start = 0;
    while (start <= accepted.size()) {
        std::size_t end = accepted.find(',', start);
        if (end == std::string::npos) end = accepted.size();
        const std::string_view item = std::string_view(accepted).substr(start, end - start);
        const std::size_t parameters = item.find(';');
        if (host::EqualsIgnoringAsciiCase(host::TrimmedBlanks(item.substr(0, parameters)), "gzip")) {
            if (parameters == std::string_view::npos) return true;
            const std::string weight(host::TrimmedBlanks(item.substr(parameters + 1)));
            return !(weight.size() >= 2 && (weight[0] == 'q' || weight[0] == 'Q') && weight[1] == '=' &&
                     std::strtod(weight.c_str() + 2, nullptr) <= 0.0);
        }
        start = end + 1;
    }
    return false;
}

// The library compresses a text body with the best coding that the request
// offers. Brotli, its first choice, costs seconds on a page of a million
// entries; gzip costs a tenth of a second there and cuts it to a tenth of its
// size, which a browser takes in ten times faster. So gzip is all that the
// library is offered. No page holds a secret beside text that a request can
// put in it, so compression gives nothing away over HTTPS. The handlers get a
// const view of the library's own, non-const, Request: the cast is well-defined.
void OfferGzipAtMost(const Request& request) {
    auto& headers = const_cast<Request&>(request).headers;
    const bool offers_gzip = OffersGzip(request.get_header_value("Accept-Encoding"));
    headers.erase("Accept-Encoding");
    if (offers_gzip) headers.emplace("Accept-Encoding", "gzip");
}

bool HasBody(const Response& response) { return !response.body.empty(); }

ApiSettings WithBodyLimit(ApiSettings settings, std::size_t max_body_bytes) {
    settings.max_body_bytes = max_body_bytes;
    return settings;
}

// Puts an alert at the top of a page's main content (or of its body), where
// the administrator looks first.
void InsertNotice(std::string& page, const std::string& text) {
    const std::string notice = "\n<p class=\"message error\" role=\"alert\">" + Escaped(text) + "</p>\n";
    std::size_t anchor = page.find("<main");
    if (anchor == std::string::npos) anchor = page.find("<body");
    const std::size_t tag_end = anchor == std::string::npos ? std::string::npos : page.find('>', anchor);
    page.insert(tag_end == std::string::npos ? 0 : tag_end + 1, notice);
}

// The plug-in's top bar gets the links to the account's pages and the name
// of who is signed in, as the console's own pages have them.
void NameTheAccount(std::string& page, const std::string& account, Role role) {
    const std::size_t header = page.find("<header class=\"topbar\">");
    if (header == std::string::npos) return;
    const std::size_t header_end = page.find("</header>", header);
    const std::size_t nav_end = page.find("</nav>", header);
    const std::size_t sign_out = page.find("<form class=\"signout\"", header);
    if (header_end == std::string::npos || nav_end > header_end || sign_out > header_end || nav_end > sign_out) return;
    page.insert(sign_out, SignedInAs(account, RoleName(role)));
    page.insert(nav_end, AccountLinks({}, RoleName(role)));
}

// An auditor's page of the plug-in: marked read-only for its script and
// style (no Save, no Add, no Restore defaults), with a line that says why.
// The console refuses the auditor's changes whatever the page shows.
void MarkReadOnly(std::string& page, Role role) {
    const std::size_t body = page.find("<body");
    if (body != std::string::npos) page.insert(body + 5, " data-read-only=\"true\"");
    const std::string note = "\n<p class=\"message info\" role=\"status\" id=\"readOnlyNote\">Your account is an " +
                             std::string(RoleName(role)) +
                             "'s: it reads these settings and exports the list, and changes nothing here. A change "
                             "takes an editor's account.</p>\n";
    std::size_t anchor = page.find("<main");
    const std::size_t tag_end = anchor == std::string::npos ? std::string::npos : page.find('>', anchor);
    page.insert(tag_end == std::string::npos ? 0 : tag_end + 1, note);
}

void ClearResponse(Response& response) {
    response.headers.clear();
    response.body.clear();
}

// An error answer in the form its route speaks: a problem for the API, else a page.
void SendError(Response& response, int status, const std::string& reason) {
    if (t_trace.route != nullptr && t_trace.route->route == Route::kApi) return SendProblem(response, status, reason);
    SendShortPage(response, status, reason);
}

void SendRefusal(Response& response, const Refusal& refusal) {
    SendError(response, refusal.status, refusal.reason);
    for (const auto& [name, value] : refusal.headers) response.set_header(name, value);
    // The body, if any, was not read: what follows it on this connection is not a request.
    response.set_header("Connection", "close");
}

const std::pair<const char*, const char*> kSecurityHeaders[] = {
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "same-origin"},
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; form-action 'self'; "
     "base-uri 'none'; frame-ancestors 'none'; connect-src 'self'"},
};

// The same headers on the answers the connection layer writes itself.
ConnectionLimits WithRefusalHeaders(ConnectionLimits limits, bool is_tls) {
    std::string& lines = limits.refusal_header_lines;
    lines = "Cache-Control: no-store\r\n";
    for (const auto& [name, value] : kSecurityHeaders) lines.append(name).append(": ").append(value).append("\r\n");
    if (is_tls) lines.append("Strict-Transport-Security: ").append(kStrictTransportSecurity).append("\r\n");
    return limits;
}

void SetSecurityHeaders(Response& response, bool is_tls) {
    for (const auto& [name, value] : kSecurityHeaders) {
        response.headers.erase(name);
        response.headers.emplace(name, value);
    }
    if (!response.has_header("Cache-Control")) response.headers.emplace("Cache-Control", "no-store");
    if (is_tls) response.set_header("Strict-Transport-Security", kStrictTransportSecurity);
}

void RefuseMethod(Response& response, const char* allowed, const std::string& reason) {
    SendError(response, 405, reason);
    response.set_header("Allow", allowed);
    response.set_header("Connection", "close");
}

// UTF-8 text as a header value may carry it: every byte but the unreserved
// ASCII ones as %XX, which the page's script reads with decodeURIComponent.
std::string PercentEncoded(const std::string& utf8) {
    std::string encoded;
    host::AppendPercentEncoded(encoded, utf8, [](unsigned char byte) {
        return std::isalnum(byte) || byte == '-' || byte == '_' || byte == '.' || byte == '~';
    });
    return encoded;
}

// What the administrator is told after a save or a reset that was stored.
std::string OutcomeSentence(const std::string& action, const std::string& changes_summary) {
    const std::string changed = ChangeSentence(changes_summary);
    if (action == "save") return "Saved: " + changed + ".";
    return "Defaults restored: " + changed + ".";
}

}  // namespace

HttpConsole::HttpConsole(ConsoleSettings settings, const PluginModule& plugin,
                         std::shared_ptr<host::ConsoleStore> store)
    : settings_(std::move(settings)),
      plugin_(plugin),
      store_(std::move(store)),
      accounts_(store_),
      api_(plugin_, store_, accounts_, WithBodyLimit(settings_.api, settings_.connections.max_body_bytes)),
      sessions_(store_, settings_.sessions),
      passkey_challenges_(store_),
      throttle_(store_),
      access_log_(settings_.data_dir / "access.log"),
      server_(WithRefusalHeaders(settings_.connections, settings_.tls_context != nullptr), settings_.tls_context) {
    screening_.is_tls = settings_.tls_context != nullptr;
    screening_.max_body_bytes = settings_.connections.max_body_bytes;
    screening_.listen_host = settings_.listen_host;
    screening_.listen_port = settings_.listen_port;
    Configure();
}

void HttpConsole::Configure() {
    httplib::Server& http = server_.Http();
    // Without it a small page waits for the peer's delayed acknowledgement.
    http.set_tcp_nodelay(true);
    // The library's compile-time limits are baked into its build; these are ours.
    // The keep-alive settings only fill the Keep-Alive header: the connection server keeps them.
    const ConnectionLimits& limits = settings_.connections;
    http.set_payload_max_length(limits.max_body_bytes);
    http.set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits.keep_alive_timeout).count());
    http.set_keep_alive_max_count(limits.max_requests_per_connection);

    // This hook runs outside the library's exception handling.
    http.set_expect_100_continue_handler([this](const Request& request, Response& response) {
        try {
            StartTrace(request);
            OfferGzipAtMost(request);
            if (const std::optional<Refusal> refusal = ScreenRequest(request, *t_trace.route, screening_)) {
                SendRefusal(response, *refusal);
                return refusal->status;
            }
            return 100;
        } catch (const std::exception& error) {
            DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s %s failed: %s", request.method.c_str(),
                            request.path.c_str(), error.what());
            ClearResponse(response);
            SendError(response, 500, "The console could not answer this request.");
            response.set_header("Connection", "close");
            return 500;
        }
    });
    http.set_pre_routing_handler([this](const Request& request, Response& response) {
        StartTrace(request);
        OfferGzipAtMost(request);
        if (const std::optional<Refusal> refusal = ScreenRequest(request, *t_trace.route, screening_)) {
            SendRefusal(response, *refusal);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // "." would not match a line feed, and a decoded path may hold one.
    http.Get("[\\s\\S]*", [this](const Request& request, Response& response) { Handle(request, response, nullptr); });
    const auto handle_body = [this](const Request& request, Response& response, const httplib::ContentReader& reader) {
        Handle(request, response, &reader);
    };
    http.Post("[\\s\\S]*", handle_body);
    http.Put("[\\s\\S]*", handle_body);
    http.Patch("[\\s\\S]*", handle_body);

    // The library's default sends the exception's text to the client.
    http.set_exception_handler([](const Request& request, Response& response, std::exception_ptr error) {
        std::string detail = "an unknown exception";
        try {
            std::rethrow_exception(std::move(error));
        } catch (const host::StoreRefused& refused) {
            DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s %s failed: %s", request.method.c_str(),
                            request.path.c_str(), refused.what());
            ClearResponse(response);
            SendError(response, 503, "The store cannot be used now: " + refused.Reason());
            response.set_header("Retry-After", kRetryAfterSeconds);
            return;
        } catch (const std::exception& e) {
            detail = e.what();
        } catch (...) {}
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s %s failed: %s", request.method.c_str(),
                        request.path.c_str(), detail.c_str());
        ClearResponse(response);
        SendError(response, 500, "The console could not answer this request.");
    });
    // The hooks below run outside the library's exception handling: an
    // exception there would end the process, so none may leave them.
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const Request& request, Response& response) {
        try {
            if (HasBody(response)) return httplib::Server::HandlerResponse::Unhandled;
            OfferGzipAtMost(request);  // for errors the library answers before routing
            SendShortPage(response, response.status, "The request was refused.");
            return httplib::Server::HandlerResponse::Handled;
        } catch (...) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
    }));
    http.set_post_routing_handler([this](const Request&, Response& response) {
        try {
            SetSecurityHeaders(response, screening_.is_tls);
            response.set_header("Vary", "Accept-Encoding");
        } catch (...) {
            DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s", "the security headers could not be set");
        }
    });
    http.set_logger([this](const Request& request, const Response& response) {
        try {
            LogAccess(request, response);
        } catch (...) {
            DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s",
                            "an access log line could not be written");
        }
        t_trace = RequestTrace{};
    });
}

int HttpConsole::Bind() {
    const std::string address = settings_.listen_host + ":" + std::to_string(settings_.listen_port);
    if (settings_.listen_port == 0) {
        const int port = server_.Http().bind_to_any_port(settings_.listen_host);
        if (port <= 0) throw std::runtime_error("cannot listen on " + address);
        settings_.listen_port = port;
    } else if (!server_.Http().bind_to_port(settings_.listen_host, settings_.listen_port)) {
        throw std::runtime_error("cannot listen on " + address);
    }
    server_.WidenListenBacklog();
    screening_.listen_port = settings_.listen_port;
    return settings_.listen_port;
}

void HttpConsole::Serve() {
    {
        // A request's debug and access lines would cost two writes of the
        // file system each; a failure is still written at once.
        const host::BatchedLogWriting batched_log_lines(kLogWriteDelay);
        if (!is_stop_requested_) server_.Http().listen_after_bind();
        server_.CloseConnections();
    }
    has_finished_ = true;
}

void HttpConsole::Stop() {
    is_stop_requested_ = true;
    // stop() does nothing until the accept loop runs; wait for either end.
    while (!server_.Http().is_running() && !has_finished_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server_.Http().stop();
}

// The phases after the screening, in order: the method the route takes, the
// session, the form, the route's content. (Security headers and the access
// log follow in the library's post-routing hook and logger.)
void HttpConsole::Handle(const Request& request, Response& response, const httplib::ContentReader* reader) {
    Exchange exchange{request, response, *t_trace.route, reader, {}, false, {}, Role::kAuditor, {}, {}};
    if (!TakesMethod(exchange.route, request.method)) {
        return RefuseMethod(response, AllowedMethods(exchange.route), exchange.route.wrong_method);
    }
    if (!Authenticate(exchange) || !Authorize(exchange)) return;
    if (reader != nullptr && !ReadForm(exchange, *reader)) return;
    Content(exchange, reader != nullptr);
    t_trace.user_name = exchange.user_name;  // a sign-in's account, for the access log
}

// The content phase: one handler per route.
void HttpConsole::Content(Exchange& exchange, bool is_post) {
    const Request& request = exchange.request;
    Response& response = exchange.response;
    switch (exchange.route.route) {
    case Route::kRoot:
        return Redirect(response, PagePath(kSettingsPageId));
    case Route::kSignIn:
        return is_post ? HandleSignIn(exchange) : RenderSignIn(response, 200, {}, {});
    case Route::kSecondFactor:
        return is_post ? HandleSecondFactor(exchange) : RenderSecondFactor(response, 200, {});
    case Route::kAccount:
        return is_post ? HandleAccount(exchange) : RenderAccount(exchange, 200, {}, false);
    case Route::kAdministrators:
        return is_post ? HandleAdministrators(exchange) : RenderAdministrators(exchange, 200, {}, false);
    case Route::kPasskeyOptions:
        return HandlePasskeyOptions(exchange);
    case Route::kPasskeySignIn:
        return HandlePasskeySignIn(exchange);
    case Route::kSignOut:
        return HandleSignOut(exchange);
    case Route::kHistory:
        return ServeHistory(exchange, HistoryViewOf(request.params, *store_));
    case Route::kRestore:
        return HandleRestore(exchange);
    case Route::kPageNames:
        response.set_header("Cache-Control", "max-age=300");
        return SetContent(response, PageNamesModule(), StaticContentType(kPageNamesPath));
    case Route::kStaticFile:
        return ServeStatic(exchange);
    case Route::kApprovedList:
        return ServeListApart(exchange);
    case Route::kApi:
        return api_.Handle(request, response, exchange.reader,
                           exchange.session.stage == SessionStage::kSignedIn && !exchange.user_name.empty()
                               ? SessionCaller{exchange.user_name, exchange.role}
                               : SessionCaller{});
    case Route::kPage:
        return ServePage(exchange);
    }
}

bool HttpConsole::Authenticate(Exchange& exchange) {
    const std::string cookies = exchange.request.get_header_value("Cookie");
    exchange.session_id = SessionIdFromCookieHeader(cookies);
    exchange.wants_list_apart = WantsListApart(cookies);
    const SessionNeed need = exchange.route.session;
    std::optional<SessionStage> stage;
    if (need != SessionNeed::kNone && !exchange.session_id.empty()) {
        if (std::optional<SessionOwner> owner = sessions_.Touch(exchange.session_id, WallClock::now())) {
            exchange.user_name = owner->account;
            exchange.role = owner->role;
            stage = owner->stage;
            exchange.session = std::move(*owner);
        }
        t_trace.user_name = exchange.user_name;
    }
    // Where a session of each stage goes when the route is not for it.
    const char* elsewhere = kSignInPath;
    if (stage == SessionStage::kPassword) elsewhere = kSecondFactorPath;
    if (stage == SessionStage::kEnrolling) elsewhere = kAccountPath;
    bool is_let_in = true;
    switch (need) {
    case SessionNeed::kNone:
    case SessionNeed::kIfAny:
        break;
    case SessionNeed::kPasswordOnly:
        is_let_in = stage == SessionStage::kPassword;
        if (stage == SessionStage::kSignedIn) elsewhere = kRootPath;
        break;
    case SessionNeed::kEnrolment:
        is_let_in = stage == SessionStage::kSignedIn || stage == SessionStage::kEnrolling;
        break;
    case SessionNeed::kRequired:
        is_let_in = stage == SessionStage::kSignedIn;
        break;
    }
    if (is_let_in) return true;
    // Nothing of a form reaches a handler, so nothing is stored or audited.
    if (exchange.request.method == "POST") exchange.response.set_header("Connection", "close");
    Redirect(exchange.response, elsewhere);
    return false;
}

// Before the form is read: nothing of a refused request reaches the plug-in
// or the store.
bool HttpConsole::Authorize(Exchange& exchange) {
    if (exchange.user_name.empty() || exchange.session.stage != SessionStage::kSignedIn) return true;
    const bool is_post = exchange.request.method == "POST";
    Role needed = is_post ? exchange.route.poster : exchange.route.reader;
    if (is_post && exchange.route.route == Route::kPage) {
        const HostedPage* page = FindHostedPage(OS::FromUtf8(exchange.request.path.substr(1)));
        if (page != nullptr && page->is_form_read_only) needed = exchange.route.reader;
    }
    if (Permits(exchange.role, needed)) return true;
    if (is_post) exchange.response.set_header("Connection", "close");
    SendShortPage(exchange.response, 403,
                  "Nothing was changed: the account \"" + exchange.user_name + "\" is an " +
                      std::string(RoleName(exchange.role)) + ", and this takes an " + std::string(RoleName(needed)) +
                      "'s account.");
    return false;
}

// A POST whose body is not read ends its connection: what follows the headers
// is not a request.
bool HttpConsole::ReadForm(Exchange& exchange, const httplib::ContentReader& reader) {
    Response& response = exchange.response;
    if (exchange.route.form == FormKind::kOwn) return true;
    if (exchange.route.form == FormKind::kNone) {
        response.set_header("Connection", "close");
        return true;
    }
    const bool is_credentials = exchange.route.form == FormKind::kCredentials;
    FormBody body =
        ReadFormBody(exchange.request, reader,
                     is_credentials ? FormLimits{kMaxCredentialsBodyBytes, kMaxCredentialsFields}
                                    : FormLimits{settings_.connections.max_body_bytes, settings_.max_form_fields});
    if (body.error_status != 0) {
        SendShortPage(response, body.error_status, body.error_reason);
        response.set_header("Connection", "close");
        return false;
    }
    if (!is_credentials && !FirstField(body.fields, kListApartField).empty()) {
        // The list box of that page was left out: its save would empty the list.
        SendShortPage(response, 409,
                      "Nothing was stored: the page was opened without its approved list. Open the settings page "
                      "again and make the change there.");
        response.set_header("Set-Cookie", std::string(kListApartCookieName) + "=; SameSite=Strict; Path=/; Max-Age=0");
        return false;
    }
    exchange.fields = std::move(body.fields);
    return true;
}

void HttpConsole::ServeHistory(Exchange& exchange, HistoryView view) {
    Response& response = exchange.response;
    view.top_bar = TopBar(kHistoryPath, exchange.user_name, RoleName(exchange.role));
    view.can_restore = Permits(exchange.role, RouteOf(kRestorePath).poster);
    std::optional<std::string> page = RenderHistoryPage(*store_, view);
    if (!page) {
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s", "the History template cannot be opened");
        return SendShortPage(response, 500, "The History page is missing.");
    }
    response.status = view.is_error ? 409 : 200;
    SetContent(response, std::move(*page), kHtmlType);
}

void HttpConsole::HandleRestore(Exchange& exchange) {
    Response& response = exchange.response;
    const std::int64_t seq = RecordSeqOf(FirstField(exchange.fields, L"seq"));
    std::string error;
    const host::ActionOutcome outcome = seq == 0
                                            ? host::ActionOutcome{false, "the form names no record", 0, {}}
                                            : RestoreBefore(*store_, seq, exchange.user_name,
                                                            exchange.request.remote_addr, error, {kBrowserChannel, {}});
    if (outcome.is_stored) {
        return Redirect(response, std::string(kHistoryPath) + "?restored=" + std::to_string(outcome.audit_seq));
    }
    HistoryView view = HistoryViewOf({}, *store_);
    view.notice = error.empty() ? "Nothing was restored: " + outcome.refusal + "." : error;
    view.is_error = true;
    ServeHistory(exchange, view);
    if (error.empty()) response.status = 503;
}

void HttpConsole::RecordAccess(const Request& request, const std::string& user_name, const char* action,
                               const std::string& message) {
    host::AuditRecord record;
    record.context[0] = OS::FromUtf8(user_name);
    record.context[1] = OS::FromUtf8(request.remote_addr);
    record.context[2] = OS::FromUtf8(request.path.substr(1));
    record.event_type = kAccessEvent;
    record.source_type = kConsoleSource;
    record.message = OS::FromUtf8(message);
    record.action = action;
    store_->AppendAudit(std::move(record));
}

CCGIRequestData HttpConsole::PageRequestOf(const Exchange& exchange, const std::wstring& page_id) const {
    CCGIRequestData page_request;
    page_request.SetPageID(page_id);
    page_request.SetBaseURL(L"/");
    page_request.SetSignedInUser(OS::FromUtf8(exchange.user_name));
    // The connection's address only: a client's REMOTE_ADDR header is no evidence.
    page_request.SetClientAddress(OS::FromUtf8(exchange.request.remote_addr));
    return page_request;
}

void HttpConsole::ServePage(Exchange& exchange) {
    const Request& request = exchange.request;
    Response& response = exchange.response;
    // The page's debug lines go to the file together, before the page goes out.
    const host::DebugLogBatch debug_lines;
    // The library has percent-decoded the path once; it is not decoded again.
    const std::optional<std::wstring> page_id = host::ConfinedPath(OS::FromUtf8(request.path.substr(1)));
    if (!page_id) return SendShortPage(response, 404, "There is no such page.");

    CCGIRequestData page_request = PageRequestOf(exchange, *page_id);
    for (const auto& [name, value] : QueryFields(request)) page_request.AddField(name, value);
    // The version the page was served with is the console's: the plug-in never sees it.
    std::optional<PageVersion> seen = ParsedVersion(request.get_header_value("If-Match"));
    for (auto& [name, value] : exchange.fields) {
        if (name == kVersionField) {
            if (!seen) seen = ParsedVersion(OS::ToUtf8(value));
            continue;
        }
        page_request.AddField(std::move(name), std::move(value));
    }
    FormFields().swap(exchange.fields);  // emptied by the moves: its buffer goes before the page is made

    const PolicyChoice policy_choice = ChosenPolicy(page_request, *store_);
    if (!policy_choice.is_hosted) {
        std::string hosted;
        for (const std::wstring& name : policy_choice.hosted) {
            hosted += (hosted.empty() ? "" : ", ") + OS::ToUtf8(name);
        }
        return SendShortPage(response, 404,
                             "There is no policy \"" + OS::ToUtf8(policy_choice.named) +
                                 "\" here; nothing was stored. The policies are: " + hosted + ".");
    }
    const bool is_settings_page = OS::x_wstring(*page_id).CompareNoCase(kSettingsPageId) == 0;
    const std::wstring policy =
        policy_choice.named.empty() ? OS::FromUtf8(kHostedPolicies[0].instance) : policy_choice.named;
    PageHooks hooks;
    PageVersion shown;
    bool is_overtaken = false;
    if (is_settings_page) hooks.read_state = [&] { shown = CurrentVersion(*store_, policy); };
    if (is_settings_page && seen) {
        // In the action's transaction: nothing can change between this look and the save.
        hooks.check = [&] {
            if (!ShowsSameState(*seen, CurrentVersion(*store_, policy))) {
                is_overtaken = true;
                throw host::AbandonedAction("the settings changed since the page was served");
            }
        };
    }
    const PageAnswer answer = AnswerThroughPlugin(plugin_, *store_, page_request, {kBrowserChannel, {}}, {}, hooks);
    // Import and export need the store for their audit record alone, which is kept.
    const bool is_refused_change = !answer.outcome.is_stored && !answer.is_action_page;
    if (!answer.response) {
        if (FindHostedPage(*page_id) == nullptr) return SendShortPage(response, 404, "There is no such page.");
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__,
                        "page %s: the plug-in made no page; its template web/html/%s is missing or unreadable",
                        OS::ToUtf8(*page_id).c_str(), OS::ToUtf8(*page_id).c_str());
        return SendShortPage(response, 500,
                             "This page cannot be made: its template is missing or unreadable (the debug log names "
                             "it). Reinstall the console's templates.");
    }

    std::optional<ResponseFrame> frame = ParseResponseFrame(answer.response.get());
    std::string content_type;
    std::string disposition;
    if (frame) {
        for (const auto& [name, value] : frame->headers) {
            if (host::EqualsIgnoringAsciiCase(name, "Content-Type")) content_type = value;
            if (host::EqualsIgnoringAsciiCase(name, "Content-Disposition")) disposition = value;
            // Other lines (Accept-Ranges among them) are the console's to decide, not the page's.
        }
    }
    if (content_type.empty()) {
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__,
                        "page %s: the plug-in's response header block cannot be parsed", OS::ToUtf8(*page_id).c_str());
        return SendShortPage(response, 500, "The page could not be made.");
    }
    std::string body(frame->body.data(), frame->body.size());
    if (is_overtaken) {
        response.status = 412;
        InsertNotice(body, "Not saved: these settings changed since you opened this page (" +
                               ChangesSince(*store_, seen->newest_record) +
                               "). The page shows them as they are now: make your change again, or apply your "
                               "edits on top of them, and save.");
    } else if (is_refused_change) {
        response.status = 503;
        response.set_header("Retry-After", kRetryAfterSeconds);
        InsertNotice(body, "The change was not stored: " + answer.outcome.refusal +
                               (answer.read_failure.empty()
                                    ? ". The page shows the settings as they are stored; try again in a moment."
                                    : ". The stored settings cannot be read either, so this page does not show them."));
    } else if (!answer.read_failure.empty()) {
        response.status = 503;
        response.set_header("Retry-After", kRetryAfterSeconds);
        InsertNotice(body, "The settings cannot be read from the store: " + answer.read_failure +
                               ". This page does not show what is stored; change nothing here.");
    } else {
        response.status = 200;
    }
    if (content_type.rfind("text/html", 0) == 0) {
        if (is_settings_page) AddVersionField(body, shown);
        NameTheAccount(body, exchange.user_name, exchange.role);
        if (!Permits(exchange.role, exchange.route.poster)) MarkReadOnly(body, exchange.role);
    }
    // The page stays as the plug-in made it; the page's script shows what the action did.
    if (answer.outcome.is_stored && (answer.action == "save" || answer.action == "reset")) {
        response.set_header("X-Tessera-Outcome",
                            PercentEncoded(OutcomeSentence(answer.action, answer.outcome.changes_summary)));
        response.set_header("X-Tessera-Record", std::to_string(answer.outcome.audit_seq));
    }
    if (!disposition.empty()) response.set_header("Content-Disposition", disposition);
    if (exchange.wants_list_apart) {
        const std::string token = NewRandomId();
        if (std::optional<std::string> entries = TakeListApart(body, ListApartPath(token, shown.list))) {
            list_parcels_.Keep(exchange.session_id, token, std::move(*entries), SteadyClock::now());
        }
    }
    SetContent(response, std::move(body), content_type);
}

void HttpConsole::ServeListApart(Exchange& exchange) {
    Response& response = exchange.response;
    const std::optional<ListApartName> name = ParsedListApartPath(exchange.request.path);
    if (!name) return SendShortPage(response, 404, "There is no such list.");
    std::optional<std::string> entries = list_parcels_.Take(exchange.session_id, name->token, SteadyClock::now());
    // Behind a load balancer the page may have come from another console:
    // the list is made again here, from the store, while it is the one the page showed.
    if (!entries) entries = RemakeListApart(exchange, name->list_version);
    if (!entries) {
        return SendShortPage(response, 404, "This list changed since its page was served: open the page again.");
    }
    response.status = 200;
    SetContent(response, std::move(*entries), "application/json");
}

std::optional<std::string> HttpConsole::RemakeListApart(const Exchange& exchange, std::int64_t list_version) {
    const std::wstring policy = OS::FromUtf8(kHostedPolicies[0].instance);
    PageHooks hooks;
    PageVersion shown;
    hooks.read_state = [&] { shown = CurrentVersion(*store_, policy); };
    const PageAnswer answer = AnswerThroughPlugin(plugin_, *store_, PageRequestOf(exchange, kSettingsPageId),
                                                  {kBrowserChannel, {}}, {}, hooks);
    if (!answer.response || !answer.read_failure.empty() || shown.list != list_version) return std::nullopt;
    std::optional<ResponseFrame> frame = ParseResponseFrame(answer.response.get());
    if (!frame) return std::nullopt;
    std::string page(frame->body.data(), frame->body.size());
    return TakeListApart(page, {});
}

void HttpConsole::ServeStatic(Exchange& exchange) {
    Response& response = exchange.response;
    const std::string relative_path = exchange.request.path.substr(exchange.route.path.size());
    std::optional<StaticFile> file = ReadStaticFile(settings_.static_dir, relative_path);
    if (!file) return SendShortPage(response, 404, "There is no such file.");
    response.status = 200;
    response.set_header("Cache-Control", "max-age=300");
    SetContent(response, std::move(file->content), file->content_type);
}

void HttpConsole::LogAccess(const Request& request, const Response& response) {
    AccessRecord record;
    record.client_address = request.remote_addr;
    record.user_name = t_trace.user_name;
    record.method = request.method;
    record.path = request.path;
    record.status = response.status;
    const std::string length = response.get_header_value("Content-Length");
    record.body_bytes = length.empty() ? response.body.size() : std::stoull(length);
    if (t_trace.is_routed) {
        record.duration_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t_trace.start).count();
    }
    access_log_.Write(record);
}

}  // namespace tessera::console
