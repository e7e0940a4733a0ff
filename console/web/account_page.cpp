// The account page and the second-factor page.
#include "account_page.h"
#include "authenticator.h"
#include "page_parts.h"

#include <ctime>

namespace tessera::console {
namespace {

constexpr wchar_t kAccountTemplate[] = L"web\\html\\console\\account.htm";
constexpr wchar_t kSecondFactorTemplate[] = L"web\\html\\console\\code.htm";
constexpr wchar_t kAdministratorsTemplate[] = L"web\\html\\console\\administrators.htm";

std::string PasswordField(const char* id) {
    return std::string("<div class=\"field\"><label for=\"") + id + "\">Current password</label>" +
           "<input type=\"password\" id=\"" + id + "\" name=\"password\" autocomplete=\"current-password\" required>" +
           "</div>";
}

std::string AuthenticatorSection(const AccountView& view) {
    if (view.factors.has_authenticator) {
        return "<p id=\"authenticatorState\">An authenticator app is set up; " +
               std::to_string(view.factors.recovery_codes_left) +
               " recovery codes are left. Signing in asks for its code after the password.</p>"
               "<form method=\"post\" action=\"/account\"><input type=\"hidden\" name=\"action\" "
               "value=\"remove-authenticator\">" +
               PasswordField("txtRemovePassword") +
               "<button type=\"submit\" class=\"button\">Remove the authenticator app</button></form>";
    }
    const std::string uri = AuthenticatorUri(view.account.name, view.offered_secret);
    return "<p id=\"authenticatorState\">No authenticator app is set up. Scan the code with one (any app that "
           "reads authenticator codes), or type the key into it, then confirm with the code it shows.</p>" +
           QrCodeSvg(uri) + "<p>Key: <code id=\"authenticatorSecret\">" + Escaped(view.offered_secret) +
           "</code></p><form method=\"post\" action=\"/account\"><input type=\"hidden\" name=\"action\" "
           "value=\"add-authenticator\">" +
           PasswordField("txtAddPassword") +
           "<div class=\"field\"><label for=\"txtConfirmCode\">Code from the app</label><input type=\"text\" "
           "id=\"txtConfirmCode\" name=\"code\" inputmode=\"numeric\" autocomplete=\"one-time-code\" required>"
           "</div><button type=\"submit\" class=\"button primary\">Set up the authenticator app</button></form>";
}

std::string UtcText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

// A form of one button that posts `action` (and `fields`) to `path`.
std::string ActionButton(const char* path, const char* action,
                         const std::vector<std::pair<const char*, std::string>>& fields, const std::string& label) {
    std::string form = std::string("<form class=\"inline\" method=\"post\" action=\"") + path +
                       "\"><input type=\"hidden\" name=\"action\" value=\"" + action + "\">";
    for (const auto& [name, value] : fields) {
        form += std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" + Escaped(value) + "\">";
    }
    return form + "<button type=\"submit\" class=\"button\">" + Escaped(label) + "</button></form>";
}

// The sessions, each with a button that ends it (from the page at `path`)
// but the one that asks; with the account of each when `with_account`.
std::string SessionsTable(const std::vector<SessionListing>& sessions, const std::string& own_handle, bool with_account,
                          const char* path, const char* id) {
    std::string rows;
    for (const SessionListing& session : sessions) {
        rows +=
            "<tr>" + (with_account ? "<td>" + Escaped(session.account) + "</td>" : std::string()) + "<td>" +
            Escaped(session.origin.browser.empty() ? "unknown" : session.origin.browser) + "</td><td>" +
            Escaped(session.origin.address) + "</td><td>" + UtcText(session.started) + "</td><td>" +
            UtcText(session.last_used) + "</td><td>" +
            (session.handle == own_handle ? std::string("this one")
                                          : ActionButton(path, "end-session", {{"session", session.handle}}, "End")) +
            "</td></tr>";
    }
    return std::string("<table class=\"sessions\" id=\"") + id + "\"><thead><tr>" +
           (with_account ? "<th scope=\"col\">Account</th>" : "") +
           "<th scope=\"col\">Browser</th><th scope=\"col\">Address</th><th scope=\"col\">Started</th><th "
           "scope=\"col\">Last used</th><th scope=\"col\">End</th></tr></thead><tbody>" +
           rows + "</tbody></table>";
}

std::string AccountsTable(const AdministratorsView& view) {
    std::string rows;
    for (const auto& [account, factors] : view.accounts) {
        std::string role_options;
        for (const Role role : {Role::kAuditor, Role::kEditor, Role::kAdministrator}) {
            const std::string name(RoleName(role));
            role_options +=
                "<option value=\"" + name + "\"" + (role == account.role ? " selected" : "") + ">" + name + "</option>";
        }
        const std::string id = "selRole-" + Escaped(account.name);
        rows += "<tr><th scope=\"row\">" + Escaped(account.name) +
                "</th><td><form class=\"inline\" method=\"post\" action=\"/administrators\"><input type=\"hidden\" "
                "name=\"action\" value=\"set-role\"><input type=\"hidden\" name=\"name\" value=\"" +
                Escaped(account.name) + "\"><label class=\"visually-hidden\" for=\"" + id + "\">Role of " +
                Escaped(account.name) + "</label><select id=\"" + id + "\" name=\"role\">" + role_options +
                "</select><button type=\"submit\" class=\"button\">Change</button></form></td><td>" +
                (account.is_disabled ? "disabled" : "enabled") + "</td><td>" +
                (factors.Any() ? "authenticator app" : "none") + "</td><td>" +
                Escaped(account.last_sign_in.empty() ? "never" : account.last_sign_in) + "</td><td>" +
                ActionButton("/administrators", account.is_disabled ? "enable" : "disable", {{"name", account.name}},
                             account.is_disabled ? "Enable" : "Disable") +
                (factors.Any() ? ActionButton("/administrators", "reset-two-factor", {{"name", account.name}},
                                              "Reset second factor")
                               : std::string()) +
                ActionButton("/administrators", "remove", {{"name", account.name}}, "Remove") + "</td></tr>";
    }
    return "<table id=\"administratorAccounts\"><thead><tr><th scope=\"col\">Name</th><th scope=\"col\">Role</th><th "
           "scope=\"col\">State</th><th scope=\"col\">Second factor</th><th scope=\"col\">Last sign-in</th><th "
           "scope=\"col\">Change</th></tr></thead><tbody>" +
           rows + "</tbody></table>";
}

std::string ProofForm() {
    return "<section class=\"card\" aria-labelledby=\"proofHeading\"><h2 id=\"proofHeading\">Confirm it is "
           "you</h2><p>Changes of accounts need your password once every " +
           std::to_string(kProofLifetime.count()) +
           " minutes.</p><form method=\"post\" action=\"/administrators\"><input type=\"hidden\" name=\"action\" "
           "value=\"confirm\">" +
           PasswordField("txtProofPassword") +
           "<button type=\"submit\" class=\"button primary\">Confirm</button></form></section>";
}

std::string PasskeysSection(const AccountView& view) {
    std::string section;
    if (view.factors.passkeys.empty()) {
        section = "<p id=\"passkeyState\">No passkey is registered.</p>";
    } else {
        std::string options;
        for (std::size_t index = 0; index < view.factors.passkeys.size(); ++index) {
            const std::string& id = view.factors.passkeys[index].credential_id;
            options += "<option value=\"" + Escaped(id) + "\">Passkey " + std::to_string(index + 1) + " (" +
                       Escaped(id.substr(0, 8)) + "...)</option>";
        }
        const std::size_t count = view.factors.passkeys.size();
        section = "<p id=\"passkeyState\">" + std::to_string(count) + (count == 1 ? " passkey is" : " passkeys are") +
                  " registered; each signs in after the password, or alone when the device checks who holds "
                  "it.</p><form method=\"post\" action=\"/account\"><input type=\"hidden\" name=\"action\" "
                  "value=\"remove-passkey\"><div class=\"field\"><label for=\"selPasskey\">Passkey</label><select "
                  "id=\"selPasskey\" name=\"id\">" +
                  options + "</select></div>" + PasswordField("txtRemovePasskeyPassword") +
                  "<button type=\"submit\" class=\"button\">Remove the passkey</button></form>";
    }
    return section +
           "<form id=\"passkeyForm\" class=\"needs-js\" method=\"post\" action=\"/account\"><input type=\"hidden\" "
           "name=\"action\" value=\"add-passkey\"><input type=\"hidden\" name=\"token\"><input type=\"hidden\" "
           "name=\"clientDataJSON\"><input type=\"hidden\" name=\"attestationObject\">" +
           PasswordField("txtPasskeyPassword") +
           "<button type=\"button\" id=\"btnAddPasskey\" class=\"button\">Add a passkey</button>"
           "<p id=\"passkeyMessage\" class=\"message\" role=\"status\" aria-live=\"polite\"></p></form>";
}

// The automation tokens, each with a button that revokes it (from the page at
// `path`); with the account of each when `with_account`.
std::string TokensTable(const std::vector<ApiToken>& tokens, bool with_account, const char* path, const char* id) {
    if (tokens.empty()) return "<p id=\"" + std::string(id) + "\">No token.</p>";
    std::string rows;
    for (const ApiToken& token : tokens) {
        rows += "<tr>" + (with_account ? "<td>" + Escaped(token.account) + "</td>" : std::string()) +
                "<th scope=\"row\">" + Escaped(token.name) + "</th><td>" + std::string(ScopeName(token.scope)) +
                "</td><td>" + Escaped(token.expires) + "</td><td>" +
                Escaped(token.last_used.empty() ? "never" : token.last_used + " from " + token.last_address) +
                "</td><td>" + ActionButton(path, "revoke-token", {{"id", token.id}}, "Revoke") + "</td></tr>";
    }
    return "<table id=\"" + std::string(id) + "\"><thead><tr>" +
           (with_account ? "<th scope=\"col\">Account</th>" : std::string()) +
           "<th scope=\"col\">Name</th><th scope=\"col\">Scope</th><th scope=\"col\">Expires</th><th "
           "scope=\"col\">Last use</th><th scope=\"col\">Revoke</th></tr></thead><tbody>" +
           rows + "</tbody></table>";
}

std::string TokensSection(const AccountView& view) {
    std::string made;
    if (!view.new_token.empty()) {
        made = "<p class=\"message success\" role=\"status\">The new token, shown only now: <code id=\"newToken\">" +
               Escaped(view.new_token) + "</code>. Scripts send it as <code>Authorization: Bearer</code>.</p>";
    }
    const bool may_write = Permits(view.account.role, Role::kEditor);
    return made + TokensTable(view.tokens, false, "/account", "accountTokens") +
           "<form method=\"post\" action=\"/account\"><input type=\"hidden\" name=\"action\" "
           "value=\"create-token\"><div class=\"field\"><label for=\"txtTokenName\">What it is for</label><input "
           "type=\"text\" id=\"txtTokenName\" name=\"name\" maxlength=\"64\" required></div><div "
           "class=\"field\"><label for=\"selTokenScope\">Scope</label><select id=\"selTokenScope\" "
           "name=\"scope\"><option value=\"read\">read</option>" +
           (may_write ? "<option value=\"write\">write</option>" : std::string()) +
           "</select></div><div class=\"field\"><label for=\"txtTokenDays\">Days it lasts</label><input "
           "type=\"number\" id=\"txtTokenDays\" name=\"days\" min=\"1\" max=\"" +
           std::to_string(kMaxTokenDays) + "\" value=\"" + std::to_string(kDefaultTokenDays) + "\" required></div>" +
           PasswordField("txtTokenPassword") + "<button type=\"submit\" class=\"button\">Make a token</button></form>";
}

std::string RecoveryCodesSection(const std::vector<std::string>& codes) {
    if (codes.empty()) return {};
    std::string items;
    for (const std::string& code : codes) items += "<li><code>" + Escaped(code) + "</code></li>";
    return "<section class=\"card\" aria-labelledby=\"recoveryHeading\"><h2 id=\"recoveryHeading\">Recovery "
           "codes</h2><p>Each one signs in once in place of a code from the app, should the phone be lost. They "
           "are shown only now: keep them somewhere safe.</p><ol id=\"recoveryCodes\">" +
           items + "</ol></section>";
}

}  // namespace

std::optional<std::string> RenderAccountPage(const AccountView& view) {
    std::string notice = NoticeParagraph(view.notice, view.is_error);
    if (view.is_enrolment_required) {
        notice +=
            "<p class=\"message warning\" role=\"status\">This console asks every account for a second factor: "
            "set up an authenticator app below to go on.</p>";
    }
    return FilledTemplate(
        kAccountTemplate,
        {
            {L"$$TOPBAR$$", view.top_bar},
            {L"$$ACCOUNT$$",
             "Signed in as " + Escaped(view.account.name) + ", " + std::string(RoleName(view.account.role)) + "."},
            {L"$$MESSAGE$$", notice},
            {L"$$RECOVERY_CODES$$", RecoveryCodesSection(view.recovery_codes)},
            {L"$$AUTHENTICATOR$$", AuthenticatorSection(view)},
            {L"$$PASSKEYS$$", PasskeysSection(view)},
            {L"$$SESSIONS$$", SessionsTable(view.sessions, view.own_handle, false, "/account", "accountSessions")},
            {L"$$TOKENS$$", TokensSection(view)},
        });
}

std::optional<std::string> RenderAdministratorsPage(const AdministratorsView& view) {
    return FilledTemplate(
        kAdministratorsTemplate,
        {
            {L"$$TOPBAR$$", view.top_bar},
            {L"$$MESSAGE$$", NoticeParagraph(view.notice, view.is_error)},
            {L"$$CONFIRM$$", view.needs_proof ? ProofForm() : std::string()},
            {L"$$ACCOUNTS$$", AccountsTable(view)},
            {L"$$SESSIONS$$", SessionsTable(view.sessions, view.own_handle, true, "/administrators", "allSessions")},
            {L"$$TOKENS$$", TokensTable(view.tokens, true, "/administrators", "allTokens")},
        });
}

std::optional<std::string> RenderSecondFactorPage(const std::string& notice) {
    return FilledTemplate(kSecondFactorTemplate, {{L"$$MESSAGE$$", NoticeParagraph(notice, true)}});
}

}  // namespace tessera::console
