// Two-factor sign-in over HTTP: an authenticator app enrolled on the account
// page, its codes taken once, recovery codes used up, and enrolment required.
#include "web_fixture.h"

#include <openssl/hmac.h>

#include <ctime>
#include <regex>

namespace tessera::test {
namespace {

// RFC 6238 as an authenticator app computes it: HMAC-SHA-1 of the 30-second
// step, dynamically truncated to six digits.
std::string AppCode(const std::string& base32_secret, std::time_t at) {
    std::string key;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : base32_secret) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
        const char* found = std::strchr(alphabet, c);
        if (c == '=' || found == nullptr) continue;
        buffer = (buffer << 5) | static_cast<unsigned>(found - alphabet);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            key += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    unsigned char step[8] = {};
    for (std::uint64_t counter = static_cast<std::uint64_t>(at) / 30, index = 8; index-- > 0; counter >>= 8) {
        step[index] = static_cast<unsigned char>(counter & 0xFF);
    }
    unsigned char mac[20] = {};
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), step, sizeof step, mac, &length);
    const int offset = mac[19] & 0x0F;
    const std::uint32_t value =
        ((mac[offset] & 0x7Fu) << 24) | (mac[offset + 1] << 16) | (mac[offset + 2] << 8) | mac[offset + 3];
    const std::string digits = std::to_string(value % 1000000);
    return std::string(6 - digits.size(), '0') + digits;
}

std::vector<std::string> Matches(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

// The session cookie a response sets.
std::string CookieOf(const httplib::Result& result) {
    const std::string set = result ? result->get_header_value("Set-Cookie") : std::string();
    return set.substr(0, set.find(';'));
}

class TwoFactorTest : public testing::Test {
protected:
    httplib::Result Post(const std::string& cookie, const std::string& path, const std::string& form) const {
        return console_->Client().Post(path, console_->FormHeaders(cookie), form, "application/x-www-form-urlencoded");
    }
    httplib::Result Get(const std::string& cookie, const std::string& path) const {
        return console_->Client().Get(path, console_->FormHeaders(cookie));
    }
    // Signs in with the password; returns the session cookie of its next step.
    std::string SignInWithPassword(const std::string& user_name, const std::string& password) const {
        const httplib::Result result =
            Post("", "/login", "username=" + user_name + "&password=" + httplib::detail::encode_query_param(password));
        EXPECT_TRUE(result && result->status == 303);
        return CookieOf(result);
    }
    struct Enrolment {
        std::string secret;
        std::string code;  // the one that confirmed it
        std::vector<std::string> recovery_codes;
    };
    // Enrols an authenticator from the account page.
    Enrolment Enrol(const std::string& cookie) const {
        const httplib::Result page = Get(cookie, "/account");
        EXPECT_TRUE(page && page->status == 200);
        const std::vector<std::string> secrets =
            page ? Matches(page->body, std::regex("id=\"authenticatorSecret\">([A-Z2-7=]+)<"))
                 : std::vector<std::string>{};
        if (secrets.size() != 1) {
            ADD_FAILURE() << "no secret on the account page";
            return {};
        }
        EXPECT_NE(page->body.find("<svg"), std::string::npos) << "the QR code";
        const std::string code = AppCode(secrets[0], std::time(nullptr));
        const httplib::Result enrolled =
            Post(cookie, "/account",
                 "action=add-authenticator&password=" + httplib::detail::encode_query_param(kAdminPassword) +
                     "&code=" + code);
        EXPECT_TRUE(enrolled && enrolled->status == 200);
        const std::vector<std::string> codes =
            enrolled ? Matches(enrolled->body, std::regex("<li><code>([a-z0-9-]+)</code></li>"))
                     : std::vector<std::string>{};
        EXPECT_EQ(codes.size(), 10u) << (enrolled ? enrolled->body.substr(0, 3000) : "");
        return {secrets[0], code, codes};
    }
    int SecondFactorStatus(const std::string& cookie, const std::string& code) const {
        const httplib::Result result = Post(cookie, "/login/code", "code=" + code);
        return result ? result->status : -1;
    }

    std::unique_ptr<ConsoleServer> console_ = std::make_unique<ConsoleServer>();
};

TEST_F(TwoFactorTest, AnEnrolledAppsCodesAreTakenOnceAndRecoveryCodesAreUsedUp) {
    const auto [secret, enrolment_code, recovery_codes] = Enrol(console_->SignIn());
    ASSERT_EQ(recovery_codes.size(), 10u);

    const std::string half = SignInWithPassword("admin", kAdminPassword);
    const httplib::Result settings = Get(half, kSettingsPath);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->status, 303) << "a password alone reaches nothing";
    EXPECT_EQ(settings->get_header_value("Location"), "/login/code");

    EXPECT_EQ(SecondFactorStatus(half, enrolment_code), 200) << "the enrolment's code is used already";
    EXPECT_EQ(SecondFactorStatus(half, "000000x"), 200);
    // The app's code of the next step: the console takes one step either way for a clock that is off.
    const std::string next = AppCode(secret, std::time(nullptr) + 30);
    const httplib::Result signed_in = Post(half, "/login/code", "code=" + next);
    ASSERT_TRUE(signed_in);
    EXPECT_EQ(signed_in->status, 303);
    const httplib::Result page = Get(CookieOf(signed_in), kSettingsPath);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(Get(half, kSettingsPath)->status, 303) << "the half-way session id is spent";

    const std::string again = SignInWithPassword("admin", kAdminPassword);
    EXPECT_EQ(SecondFactorStatus(again, next), 200) << "a code is taken once";
    EXPECT_EQ(SecondFactorStatus(again, recovery_codes[3]), 303);
    const std::string third = SignInWithPassword("admin", kAdminPassword);
    EXPECT_EQ(SecondFactorStatus(third, recovery_codes[3]), 200) << "a recovery code is used up";

    EXPECT_EQ(AuditRecordCount(console_->DataDir(), "second-factor-added"), 1u);
    EXPECT_EQ(AuditRecordCount(console_->DataDir(), "recovery-code-used"), 1u);
    EXPECT_EQ(AuditRecordCount(console_->DataDir(), "sign-in-failed"), 4u);

    RunConsole({"user", "reset-two-factor", "admin", "--data", console_->DataDir().string()});
    const httplib::Result password_only =
        Post("", "/login", "username=admin&password=" + httplib::detail::encode_query_param(kAdminPassword));
    ASSERT_TRUE(password_only);
    EXPECT_EQ(password_only->get_header_value("Location"), kSettingsPath) << "reset: the password alone again";
}

TEST_F(TwoFactorTest, WhereASecondFactorIsRequiredAnAccountWithoutOneMayOnlyEnrol) {
    console_.reset();
    ServeOptions options;
    options.extra_arguments = {"--require-two-factor"};
    console_ = std::make_unique<ConsoleServer>(options);
    const std::string enrolling = SignInWithPassword("admin", kAdminPassword);
    for (const std::string& path : {std::string(kSettingsPath), std::string("/history")}) {
        const httplib::Result result = Get(enrolling, path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->get_header_value("Location"), "/account") << path;
    }
    const httplib::Result save = Post(enrolling, kSettingsPath, "FormAction=save&txtDeliverAct_Replace=enrolling");
    ASSERT_TRUE(save);
    EXPECT_EQ(save->status, 303);
    EXPECT_NE(StoredPolicyText(console_->DataDir(), "URL_FILTER", "ActionReplaceAll"), "enrolling");

    Enrol(enrolling);
    const httplib::Result page = Get(enrolling, kSettingsPath);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << "enrolled, the session goes on";
}

}  // namespace
}  // namespace tessera::test
