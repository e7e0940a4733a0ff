// The account page and the second-factor page.
#include "account_page.h"
#include "authenticator.h"
#include "page_parts.h"

#include <ctime>

namespace tessera::console {
namespace {

constexpr wchar_t kAccountTemplate[] = L"web\\html\\console\\account.htm";
constexpr wchar_t kSecondFactorTemplate[] = L"web\\html\\console\\code.htm";

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

std::string SessionsSection(const AccountView& view) {
    std::string rows;
    for (const SessionListing& session : view.sessions) {
        const bool is_own = session.handle == view.own_handle;
        rows +=
            "<tr><td>" + Escaped(session.origin.browser.empty() ? "unknown" : session.origin.browser) + "</td><td>" +
            Escaped(session.origin.address) + "</td><td>" + UtcText(session.started) + "</td><td>" +
            UtcText(session.last_used) + "</td><td>" +
            (is_own ? std::string("this one")
                    : "<form method=\"post\" action=\"/account\"><input type=\"hidden\" name=\"action\" "
                      "value=\"end-session\"><input type=\"hidden\" name=\"session\" value=\"" +
                          Escaped(session.handle) + "\"><button type=\"submit\" class=\"button\">End</button></form>") +
            "</td></tr>";
    }
    return "<table id=\"accountSessions\"><caption>Where this account is signed in</caption><thead><tr><th "
           "scope=\"col\">Browser</th><th scope=\"col\">Address</th><th scope=\"col\">Started</th><th "
           "scope=\"col\">Last used</th><th scope=\"col\">End</th></tr></thead>"
           "<tbody>" +
           rows + "</tbody></table>";
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
    return FilledTemplate(kAccountTemplate, {
                                                {L"$$TOPBAR$$", view.top_bar},
                                                {L"$$ACCOUNT$$", "Signed in as " + Escaped(view.account.name) + ", " +
                                                                     std::string(RoleName(view.account.role)) + "."},
                                                {L"$$MESSAGE$$", notice},
                                                {L"$$RECOVERY_CODES$$", RecoveryCodesSection(view.recovery_codes)},
                                                {L"$$AUTHENTICATOR$$", AuthenticatorSection(view)},
                                                {L"$$SESSIONS$$", SessionsSection(view)},
                                            });
}

std::optional<std::string> RenderSecondFactorPage(const std::string& notice) {
    return FilledTemplate(kSecondFactorTemplate, {{L"$$MESSAGE$$", NoticeParagraph(notice, true)}});
}

}  // namespace tessera::console
