// The web console's sign-in and the account page: the password, then the
// second factor, the session each step makes, and what an account changes of
// itself.
#include "account_page.h"
#include "authenticator.h"
#include "base64url.h"
#include "hosted_pages.h"
#include "http_console.h"
#include "page_parts.h"
#include "passwords.h"
#include "responses.h"
#include "routes.h"

#include "debug_log.h"
#include "html_doc.h"
#include "os_string.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <ctime>

namespace tessera::console {
namespace {

using httplib::Request;
using httplib::Response;

constexpr wchar_t kSignInTemplate[] = L"web\\html\\console\\signin.htm";

// Where a request comes from, as its session remembers it: the socket's
// address and a short, printable form of the browser's name.
SessionOrigin OriginOf(const Request& request) {
    constexpr std::size_t kMaxBrowserLength = 120;
    std::string browser;
    for (const char c : request.get_header_value("User-Agent")) {
        if (browser.size() == kMaxBrowserLength) break;
        if (c >= 0x20 && c < 0x7f) browser += c;
    }
    return {request.remote_addr, browser};
}

// What the throttle's refusal of a sign-in says.
std::string RetryText(long wait_seconds) {
    return "Too many failed sign-ins. Try again in " + std::to_string(wait_seconds) +
           (wait_seconds == 1 ? " second." : " seconds.");
}

}  // namespace

std::optional<long> HttpConsole::SignInWait(const std::string& address, const std::string& user_name) {
    // Failures count against the address and against the account, so that
    // neither many addresses nor many names make guessing cheap.
    std::optional<long> wait_seconds;
    for (const std::string& key : {"address " + address, "account " + user_name}) {
        const std::optional<long> wait = throttle_.RetryAfterSeconds(key, WallClock::now());
        if (wait && (!wait_seconds || *wait > *wait_seconds)) wait_seconds = wait;
    }
    return wait_seconds;
}

void HttpConsole::RecordSignInFailure(const Request& request, const std::string& user_name, const char* why) {
    for (const std::string& key : {"address " + request.remote_addr, "account " + user_name}) {
        throttle_.RecordFailure(key, WallClock::now());
    }
    RecordAccess(request, user_name, "sign-in-failed", std::string("Sign-in refused: ") + why);
}

void HttpConsole::HandleSignIn(Exchange& exchange) {
    const Request& request = exchange.request;
    Response& response = exchange.response;
    const std::string user_name = FirstField(exchange.fields, L"username");
    const std::string password = FirstField(exchange.fields, L"password");
    if (const std::optional<long> wait_seconds = SignInWait(request.remote_addr, user_name)) {
        RenderSignIn(response, 429, RetryText(*wait_seconds), user_name);
        response.set_header("Retry-After", std::to_string(*wait_seconds));
        return;
    }
    const std::optional<Account> account = accounts_.Authenticate(user_name, password);
    if (!account) {
        RecordSignInFailure(request, user_name, "wrong user name or password.");
        return RenderSignIn(response, 200, "The user name or password is not correct.", user_name);
    }
    if (accounts_.SecondFactorsOf(account->name).Any()) {
        // Half-way: this session may only give the second factor.
        sessions_.End(exchange.session_id);
        const std::string session_id = sessions_.Create(
            {account->name, account->credential_version, SessionStage::kPassword, {}}, WallClock::now());
        response.set_header("Set-Cookie", SessionCookie(session_id, screening_.is_tls));
        return Redirect(response, kSecondFactorPath);
    }
    CompleteSignIn(exchange, *account, "Signed in.");
}

void HttpConsole::CompleteSignIn(Exchange& exchange, const Account& account, const char* message) {
    const Request& request = exchange.request;
    for (const std::string& key : {"address " + request.remote_addr, "account " + account.name}) {
        throttle_.RecordSuccess(key);
    }
    const bool must_enrol = settings_.require_two_factor && !accounts_.SecondFactorsOf(account.name).Any();
    // A fresh id at every step of a sign-in: an id planted before it is worth nothing.
    sessions_.End(exchange.session_id);
    const WallClock::time_point now = WallClock::now();
    const std::string session_id = sessions_.Create({account.name,
                                                     account.credential_version,
                                                     must_enrol ? SessionStage::kEnrolling : SessionStage::kSignedIn,
                                                     {},
                                                     now},
                                                    now, OriginOf(request));
    exchange.user_name = account.name;
    accounts_.NoteSignIn(account.name);
    RecordAccess(request, account.name, "sign-in",
                 must_enrol ? std::string(message) + " A second factor is required: enrolment only." : message);
    exchange.response.set_header("Set-Cookie", SessionCookie(session_id, screening_.is_tls));
    Redirect(exchange.response, must_enrol ? std::string(kAccountPath) : PagePath(kSettingsPageId));
}

void HttpConsole::HandleSecondFactor(Exchange& exchange) {
    const Request& request = exchange.request;
    Response& response = exchange.response;
    const std::string code = FirstField(exchange.fields, L"code");
    if (const std::optional<long> wait_seconds = SignInWait(request.remote_addr, exchange.user_name)) {
        RenderSecondFactor(response, 429, RetryText(*wait_seconds));
        response.set_header("Retry-After", std::to_string(*wait_seconds));
        return;
    }
    const Actor actor{exchange.user_name, request.remote_addr, request.path.substr(1)};
    bool is_accepted = false;
    try {
        is_accepted = accounts_.UseSecondFactor(exchange.user_name, code, std::time(nullptr), actor);
    } catch (const AccountNotStored& refused) {
        return RenderSecondFactor(response, 503, std::string("The sign-in cannot go on now: ") + refused.what() + ".");
    }
    if (!is_accepted) {
        RecordSignInFailure(request, exchange.user_name, "wrong or used code.");
        return RenderSecondFactor(response, 200, "The code is not correct, or was used already.");
    }
    const std::optional<Account> account = accounts_.Find(exchange.user_name);
    if (!account) return Redirect(response, kSignInPath);
    CompleteSignIn(exchange, *account, "Signed in with a second factor.");
}

void HttpConsole::RenderSecondFactor(Response& response, int status, const std::string& message) {
    const std::optional<std::string> page = RenderSecondFactorPage(message);
    if (!page) return SendShortPage(response, 500, "The sign-in page is missing.");
    response.status = status;
    SetContent(response, *page, kHtmlType);
}

void HttpConsole::RenderAccount(Exchange& exchange, int status, const std::string& message, bool is_error,
                                const std::vector<std::string>& recovery_codes, const std::string& new_token) {
    AccountView view;
    const std::optional<Account> account = accounts_.Find(exchange.user_name);
    if (!account) return Redirect(exchange.response, kSignInPath);
    view.account = *account;
    view.factors = accounts_.SecondFactorsOf(account->name);
    view.is_enrolment_required = exchange.session.stage == SessionStage::kEnrolling;
    view.notice = message;
    view.is_error = is_error;
    view.recovery_codes = recovery_codes;
    view.top_bar = TopBar(kAccountPath, account->name, RoleName(account->role));
    view.sessions = sessions_.List(account->name, WallClock::now());
    view.own_handle = sessions_.HandleOf(exchange.session_id);
    view.tokens = accounts_.Tokens(&account->name);
    view.new_token = new_token;
    if (!view.factors.has_authenticator) {
        // One secret per session until it is confirmed, so that a reload
        // does not change what the app was shown.
        if (exchange.session.offered_secret.empty()) {
            exchange.session.offered_secret = NewAuthenticatorSecret();
            sessions_.Update(exchange.session_id, exchange.session);
        }
        view.offered_secret = exchange.session.offered_secret;
    }
    const std::optional<std::string> page = RenderAccountPage(view);
    if (!page) return SendShortPage(exchange.response, 500, "The account page is missing.");
    exchange.response.status = status;
    exchange.response.set_header("Cache-Control", "no-store");  // it may show a secret or recovery codes
    SetContent(exchange.response, *page, kHtmlType);
}

// Every change here asks for the account's password again: whoever finds a
// session left open cannot take the account over.
void HttpConsole::HandleAccount(Exchange& exchange) {
    const Request& request = exchange.request;
    const std::string action = FirstField(exchange.fields, L"action");
    if (action == "end-session") {
        // The session is the account's own: nothing to prove again.
        const std::optional<std::string> ended =
            sessions_.EndByHandle(FirstField(exchange.fields, L"session"), exchange.user_name);
        if (!ended) return RenderAccount(exchange, 200, "That session has ended already.", true);
        RecordAccess(request, exchange.user_name, "session-ended",
                     "A session of \"" + *ended + "\" ended by \"" + exchange.user_name + "\".");
        return RenderAccount(exchange, 200, "The session is ended.", false);
    }
    if (action == "revoke-token") {
        // Taking a credential away needs no proof: whoever holds the session could not use it for more.
        const std::optional<ApiToken> token = accounts_.FindToken(FirstField(exchange.fields, L"id"));
        if (!token || token->account != exchange.user_name) {
            return RenderAccount(exchange, 200, "That token is revoked already.", true);
        }
        try {
            accounts_.RevokeToken(token->id, {exchange.user_name, request.remote_addr, request.path.substr(1)});
        } catch (const AccountNotStored& refused) {
            return RenderAccount(exchange, 503, std::string("Nothing was changed: ") + refused.what() + ".", true);
        }
        return RenderAccount(exchange, 200, "The token \"" + token->name + "\" is revoked.", false);
    }
    const std::string password = FirstField(exchange.fields, L"password");
    if (const std::optional<long> wait_seconds = SignInWait(request.remote_addr, exchange.user_name)) {
        exchange.response.set_header("Retry-After", std::to_string(*wait_seconds));
        return RenderAccount(exchange, 429, RetryText(*wait_seconds), true);
    }
    if (!accounts_.Authenticate(exchange.user_name, password)) {
        RecordSignInFailure(request, exchange.user_name, "wrong password on the account page.");
        return RenderAccount(exchange, 200, "The current password is not correct; nothing was changed.", true);
    }
    const Actor actor{exchange.user_name, request.remote_addr, request.path.substr(1)};
    try {
        if (action == "add-authenticator") {
            const std::vector<std::string> codes =
                accounts_.AddAuthenticator(exchange.user_name, exchange.session.offered_secret,
                                           FirstField(exchange.fields, L"code"), std::time(nullptr), actor);
            exchange.session.stage = SessionStage::kSignedIn;
            exchange.session.offered_secret.clear();
            sessions_.Update(exchange.session_id, exchange.session);
            return RenderAccount(exchange, 200, "The authenticator app is set up.", false, codes);
        }
        if (action == "add-passkey") {
            const std::optional<std::string> challenge =
                passkey_challenges_.Take(FirstField(exchange.fields, L"token"), exchange.session_id, WallClock::now());
            if (!challenge) return RenderAccount(exchange, 200, "The passkey's request is too old; try again.", true);
            const RegistrationResult registered =
                VerifyRegistration(PartyOf(request), *challenge, FirstField(exchange.fields, L"clientDataJSON"),
                                   FirstField(exchange.fields, L"attestationObject"), false);
            if (!registered.key) {
                return RenderAccount(exchange, 200, "The passkey was not added: " + registered.refusal + ".", true);
            }
            accounts_.AddPasskey(exchange.user_name, *registered.key, actor);
            exchange.session.stage = SessionStage::kSignedIn;
            sessions_.Update(exchange.session_id, exchange.session);
            return RenderAccount(exchange, 200, "The passkey is added.", false);
        }
        if (action == "remove-passkey") {
            accounts_.RemovePasskey(exchange.user_name, FirstField(exchange.fields, L"id"), actor);
            if (settings_.require_two_factor && !accounts_.SecondFactorsOf(exchange.user_name).Any()) {
                exchange.session.stage = SessionStage::kEnrolling;
                sessions_.Update(exchange.session_id, exchange.session);
            }
            return RenderAccount(exchange, 200, "The passkey is removed.", false);
        }
        if (action == "remove-authenticator") {
            accounts_.RemoveAuthenticator(exchange.user_name, actor);
            if (settings_.require_two_factor && !accounts_.SecondFactorsOf(exchange.user_name).Any()) {
                exchange.session.stage = SessionStage::kEnrolling;
            }
            exchange.session.offered_secret.clear();
            sessions_.Update(exchange.session_id, exchange.session);
            return RenderAccount(exchange, 200, "The authenticator app and its recovery codes are removed.", false);
        }
        if (action == "create-token") {
            const std::string scope = FirstField(exchange.fields, L"scope");
            const std::string days = FirstField(exchange.fields, L"days");
            const bool is_days =
                !days.empty() && days.size() <= 3 && days.find_first_not_of("0123456789") == std::string::npos;
            const NewToken made =
                accounts_.CreateToken(exchange.user_name, FirstField(exchange.fields, L"name"),
                                      scope == ScopeName(TokenScope::kWrite) ? TokenScope::kWrite : TokenScope::kRead,
                                      is_days ? std::stoi(days) : 0, std::time(nullptr), actor);
            return RenderAccount(exchange, 200, "The token \"" + made.token.name + "\" is made.", false, {},
                                 made.secret);
        }
        if (action == "change-password") {
            accounts_.SetPassword(exchange.user_name, FirstField(exchange.fields, L"new_password"), actor);
            // This session goes on under the new password; the others end.
            const std::optional<Account> account = accounts_.Find(exchange.user_name);
            if (!account) return Redirect(exchange.response, kSignInPath);
            sessions_.End(exchange.session_id);
            exchange.session.credential_version = account->credential_version;
            exchange.session_id = sessions_.Create(exchange.session, WallClock::now(), OriginOf(request));
            sessions_.EndAllOf(account->name, exchange.session_id);
            exchange.response.set_header("Set-Cookie", SessionCookie(exchange.session_id, screening_.is_tls));
            return RenderAccount(exchange, 200, "The password is changed; your other sessions are signed out.", false);
        }
        return RenderAccount(exchange, 400, "The form names no change this page makes.", true);
    } catch (const AccountRefused& refused) {
        return RenderAccount(exchange, 200, std::string("Nothing was changed: ") + refused.what() + ".", true);
    } catch (const AccountNotStored& refused) {
        return RenderAccount(exchange, 503, std::string("Nothing was changed: ") + refused.what() + ".", true);
    }
}

void HttpConsole::RenderAdministrators(Exchange& exchange, int status, const std::string& message, bool is_error) {
    AdministratorsView view;
    for (Account& account : accounts_.List()) {
        SecondFactors factors = accounts_.SecondFactorsOf(account.name);
        view.accounts.emplace_back(std::move(account), factors);
    }
    view.sessions = sessions_.List({}, WallClock::now());
    view.own_handle = sessions_.HandleOf(exchange.session_id);
    view.tokens = accounts_.Tokens(nullptr);
    view.needs_proof = WallClock::now() - exchange.session.proven_at > kProofLifetime;
    view.notice = message;
    view.is_error = is_error;
    view.top_bar = TopBar(kAdministratorsPath, exchange.user_name, RoleName(exchange.role));
    const std::optional<std::string> page = RenderAdministratorsPage(view);
    if (!page) return SendShortPage(exchange.response, 500, "The Administrators page is missing.");
    exchange.response.status = status;
    exchange.response.set_header("Cache-Control", "no-store");  // it may show a made password
    SetContent(exchange.response, *page, kHtmlType);
}

// Changes of accounts want a proof of the administrator (the password)
// within kProofLifetime; without one the page asks for it and changes nothing.
void HttpConsole::HandleAdministrators(Exchange& exchange) {
    const Request& request = exchange.request;
    const std::string action = FirstField(exchange.fields, L"action");
    const std::string name = FirstField(exchange.fields, L"name");
    const WallClock::time_point now = WallClock::now();
    if (action == "confirm") {
        if (const std::optional<long> wait_seconds = SignInWait(request.remote_addr, exchange.user_name)) {
            exchange.response.set_header("Retry-After", std::to_string(*wait_seconds));
            return RenderAdministrators(exchange, 429, RetryText(*wait_seconds), true);
        }
        if (!accounts_.Authenticate(exchange.user_name, FirstField(exchange.fields, L"password"))) {
            RecordSignInFailure(request, exchange.user_name, "wrong password on the Administrators page.");
            return RenderAdministrators(exchange, 200, "The password is not correct.", true);
        }
        exchange.session.proven_at = now;
        sessions_.Update(exchange.session_id, exchange.session);
        return RenderAdministrators(exchange, 200, "Confirmed: you may change accounts for the next few minutes.",
                                    false);
    }
    if (now - exchange.session.proven_at > kProofLifetime) {
        return RenderAdministrators(exchange, 200, "Nothing was changed: confirm your password first.", true);
    }
    const Actor actor{exchange.user_name, request.remote_addr, request.path.substr(1)};
    try {
        if (action == "add") {
            const std::optional<Role> role = RoleOfName(FirstField(exchange.fields, L"role"));
            if (!role) return RenderAdministrators(exchange, 400, "The form names no role.", true);
            std::string password = FirstField(exchange.fields, L"new_password");
            const bool is_made = password.empty();
            if (is_made) password = GeneratePassword(name);
            accounts_.Add(name, *role, password, actor);
            return RenderAdministrators(exchange, 200,
                                        "Added \"" + name + "\" as " + std::string(RoleName(*role)) + "." +
                                            (is_made ? " Its password, shown only now: " + password : ""),
                                        false);
        }
        if (action == "set-role") {
            const std::optional<Role> role = RoleOfName(FirstField(exchange.fields, L"role"));
            if (!role) return RenderAdministrators(exchange, 400, "The form names no role.", true);
            accounts_.SetRole(name, *role, actor);
        } else if (action == "disable" || action == "enable") {
            accounts_.SetEnabled(name, action == "enable", actor);
            if (action == "disable") sessions_.EndAllOf(name);
        } else if (action == "remove") {
            accounts_.Remove(name, actor);
            sessions_.EndAllOf(name);
        } else if (action == "reset-two-factor") {
            accounts_.RemoveSecondFactors(name, actor);
        } else if (action == "revoke-token") {
            const std::optional<ApiToken> token = accounts_.FindToken(FirstField(exchange.fields, L"id"));
            if (!token) return RenderAdministrators(exchange, 200, "That token is revoked already.", true);
            accounts_.RevokeToken(token->id, actor);
            return RenderAdministrators(
                exchange, 200, "The token \"" + token->name + "\" of \"" + token->account + "\" is revoked.", false);
        } else if (action == "end-session") {
            const std::optional<std::string> ended = sessions_.EndByHandle(FirstField(exchange.fields, L"session"), {});
            if (!ended) return RenderAdministrators(exchange, 200, "That session has ended already.", true);
            RecordAccess(request, exchange.user_name, "session-ended",
                         "A session of \"" + *ended + "\" ended by \"" + exchange.user_name + "\".");
            return RenderAdministrators(exchange, 200, "The session of \"" + *ended + "\" is ended.", false);
        } else {
            return RenderAdministrators(exchange, 400, "The form names no change this page makes.", true);
        }
        return RenderAdministrators(exchange, 200, "Done: " + action + " \"" + name + "\".", false);
    } catch (const AccountRefused& refused) {
        return RenderAdministrators(exchange, 200, std::string("Nothing was changed: ") + refused.what() + ".", true);
    } catch (const AccountNotStored& refused) {
        return RenderAdministrators(exchange, 503, std::string("Nothing was changed: ") + refused.what() + ".", true);
    }
}

RelyingParty HttpConsole::PartyOf(const Request& request) const {
    const std::string host = request.get_header_value("Host");
    const std::size_t colon = host.rfind(':');
    const bool has_port = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    return {has_port ? host.substr(0, colon) : host, std::string(screening_.is_tls ? "https://" : "http://") + host};
}

// What navigator.credentials wants, as JSON: to make a passkey for the
// signed-in account ("register"), to give the second factor of a session
// whose password was right ("second-factor"), or to sign in with a passkey
// alone ("sign-in"). The challenge goes to this session, or to none.
void HttpConsole::HandlePasskeyOptions(Exchange& exchange) {
    const std::string purpose = FirstField(exchange.fields, L"purpose");
    const SessionStage stage = exchange.user_name.empty() ? SessionStage::kPassword : exchange.session.stage;
    const RelyingParty party = PartyOf(exchange.request);
    const auto credentials = [&] {
        nlohmann::json list = nlohmann::json::array();
        for (const PasskeyKey& key : accounts_.SecondFactorsOf(exchange.user_name).passkeys) {
            list.push_back({{"type", "public-key"}, {"id", key.credential_id}});
        }
        return list;
    };
    nlohmann::json options;
    const bool is_registration =
        purpose == "register" && !exchange.user_name.empty() && stage != SessionStage::kPassword;
    const bool is_second_factor =
        purpose == "second-factor" && !exchange.user_name.empty() && stage == SessionStage::kPassword;
    if (!is_registration && !is_second_factor && purpose != "sign-in") {
        return SendShortPage(exchange.response, 400, "No passkey ceremony of this kind here now.");
    }
    const ChallengeTable::Issued issued =
        passkey_challenges_.Issue(purpose == "sign-in" ? std::string() : exchange.session_id, WallClock::now());
    options["token"] = issued.token;
    options["challenge"] = issued.challenge;
    if (is_registration) {
        options["rp"] = {{"id", party.id}, {"name", "Tessera console"}};
        options["user"] = {{"id", Base64UrlText(exchange.user_name)},
                           {"name", exchange.user_name},
                           {"displayName", exchange.user_name}};
        options["pubKeyCredParams"] = {{{"type", "public-key"}, {"alg", -7}}, {{"type", "public-key"}, {"alg", -8}}};
        options["attestation"] = "none";
        options["authenticatorSelection"] = {{"residentKey", "preferred"}, {"userVerification", "preferred"}};
        options["excludeCredentials"] = credentials();
    } else {
        options["rpId"] = party.id;
        options["userVerification"] = is_second_factor ? "preferred" : "required";
        options["allowCredentials"] = is_second_factor ? credentials() : nlohmann::json::array();
    }
    exchange.response.status = 200;
    exchange.response.set_header("Cache-Control", "no-store");
    SetContent(exchange.response, options.dump(), "application/json");
}

// A passkey's answer to a sign-in: the second factor of a session whose
// password was right, or, with its user verified, the whole sign-in.
void HttpConsole::HandlePasskeySignIn(Exchange& exchange) {
    const Request& request = exchange.request;
    Response& response = exchange.response;
    const bool is_second_factor = !exchange.user_name.empty() && exchange.session.stage == SessionStage::kPassword;
    const auto refuse = [&](int status, const std::string& message) {
        if (is_second_factor) return RenderSecondFactor(response, status, message);
        RenderSignIn(response, status, message, {});
    };
    const std::string credential_id = FirstField(exchange.fields, L"id");
    const std::optional<std::pair<std::string, PasskeyKey>> found = accounts_.FindPasskey(credential_id);
    const std::string account_name = is_second_factor ? exchange.user_name : found ? found->first : std::string();
    if (const std::optional<long> wait_seconds = SignInWait(request.remote_addr, account_name)) {
        response.set_header("Retry-After", std::to_string(*wait_seconds));
        return refuse(429, RetryText(*wait_seconds));
    }
    const std::optional<std::string> challenge =
        passkey_challenges_.Take(FirstField(exchange.fields, L"token"),
                                 is_second_factor ? exchange.session_id : std::string(), WallClock::now());
    std::string refusal = "the passkey is not one of this console's";
    if (challenge && found && found->first == account_name) {
        const AssertionResult result =
            VerifyAssertion(PartyOf(request), *challenge, found->second, FirstField(exchange.fields, L"clientDataJSON"),
                            FirstField(exchange.fields, L"authenticatorData"),
                            FirstField(exchange.fields, L"signature"), !is_second_factor);
        if (result.is_valid) {
            accounts_.NotePasskeyUse(account_name, credential_id, result.sign_count);
            const std::optional<Account> account = accounts_.Find(account_name);
            if (account && !account->is_disabled) {
                return CompleteSignIn(
                    exchange, *account,
                    is_second_factor ? "Signed in with a passkey as second factor." : "Signed in with a passkey.");
            }
        }
        refusal = result.refusal.empty() ? "the account cannot sign in" : result.refusal;
    } else if (!challenge) {
        refusal = "the passkey's request is too old or was used already";
    }
    RecordSignInFailure(request, account_name, ("passkey refused: " + refusal + ".").c_str());
    refuse(200, "The passkey did not sign in: " + refusal + ".");
}

void HttpConsole::HandleSignOut(Exchange& exchange) {
    if (!exchange.user_name.empty()) RecordAccess(exchange.request, exchange.user_name, "sign-out", "Signed out.");
    sessions_.End(exchange.session_id);
    exchange.response.set_header("Set-Cookie", ExpiredSessionCookie(screening_.is_tls));
    Redirect(exchange.response, kSignInPath);
}

void HttpConsole::RenderSignIn(Response& response, int status, const std::string& message,
                               const std::string& user_name) {
    CHtmlDoc document(nullptr);
    if (document.Open(kSignInTemplate) != 0) {
        DBG::DebugLogEx(nullptr, 4099, kConsoleLogSource, __LINE__, "%s", "the sign-in template cannot be opened");
        return SendShortPage(response, 500, "The sign-in page is missing.");
    }
    const std::string message_html =
        message.empty() ? std::string() : "<p class=\"message error\" role=\"alert\">" + Escaped(message) + "</p>";
    document.SetField(L"$$MESSAGE$$", OS::FromUtf8(message_html).c_str());
    document.SetField(L"$$USER_NAME$$", OS::FromUtf8(Escaped(user_name)).c_str());
    const wchar_t* content = document.GetHtmlContent();
    response.status = status;
    SetContent(response, OS::ToUtf8(content != nullptr ? content : L""), kHtmlType);
}

}  // namespace tessera::console
