// Cross-site protection, security headers, and paths that would leave the web root.
#include "web_fixture.h"

#include <map>

namespace tessera::test {
namespace {

constexpr char kSaveForm[] = "FormAction=save&txtPolicyInstanceId=URL_FILTER&stApprovedURL=www.planted.example";

TEST(Protection, EveryKindOfResponseCarriesTheSecurityHeaders) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::map<std::string, std::string> expected = {
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "same-origin"},
    };
    // What the policy must hold, not its text: nothing but the console's own
    // scripts, no framing, forms only to the console.
    const char* const policy_terms[] = {"default-src 'none'", "script-src 'self'", "frame-ancestors 'none'",
                                        "form-action 'self'", "base-uri 'none'"};
    const struct {
        const char* what;
        std::string request;
    } cases[] = {
        {"sign-in page", RawRequest(console.Port(), "GET /login HTTP/1.1", {})},
        {"style sheet", RawRequest(console.Port(), "GET /static/css/tessera.css HTTP/1.1", {})},
        {"redirect", RawRequest(console.Port(), "GET / HTTP/1.1", {})},
        {"page", RawRequest(console.Port(), std::string("GET ") + kSettingsPath + " HTTP/1.1", {"Cookie: " + cookie})},
        {"missing page", RawRequest(console.Port(), "GET /nothing.htm HTTP/1.1", {"Cookie: " + cookie})},
        {"refusal", RawRequest(console.Port(), "POST /login HTTP/1.1", {"Transfer-Encoding: chunked"}, "0\r\n\r\n")},
        {"library's own error", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"},
    };
    for (const auto& each : cases) {
        const std::string response = RawExchange(console.Port(), each.request);
        ASSERT_NE(RawStatus(response), 0) << each.what;
        for (const auto& [name, value] : expected)
            EXPECT_EQ(RawHeader(response, name), value) << each.what << ": " << name;
        const std::string policy = RawHeader(response, "Content-Security-Policy");
        for (const char* term : policy_terms)
            EXPECT_NE(policy.find(term), std::string::npos) << each.what << ": " << term;
        EXPECT_EQ(policy.find("unsafe"), std::string::npos) << each.what;
    }
}

TEST(Protection, CrossSitePostWithAValidSessionIsRefusedAndStoresNothing) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string own = console.Origin();
    const std::vector<std::string> list_before = StoredApprovedList(console.DataDir());
    const std::size_t audit_before = AuditRecordCount(console.DataDir());

    const std::vector<std::vector<std::string>> foreign = {
        {"Origin: http://evil.example"},
        {"Origin: null"},
        {"Origin: https://127.0.0.1:" + std::to_string(console.Port())},
        {"Origin: http://127.0.0.1:" + std::to_string(console.Port() + 1)},
        {"Referer: http://evil.example/" + own},
        {},  // neither Origin nor Referer
        {"Origin: " + own, "Sec-Fetch-Site: cross-site"},
    };
    for (std::vector<std::string> headers : foreign) {
        const std::string what = headers.empty() ? "no origin" : headers.front();
        headers.push_back("Cookie: " + cookie);
        headers.push_back("Content-Type: application/x-www-form-urlencoded");
        const std::string response =
            console.Exchange(std::string("POST ") + kSettingsPath + " HTTP/1.1", headers, kSaveForm);
        EXPECT_EQ(RawStatus(response), 403) << what;
    }
    EXPECT_EQ(StoredApprovedList(console.DataDir()), list_before);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before);

    // The same form from the console's own page is stored, so the checks above could see a store.
    const std::string response = console.Exchange(
        std::string("POST ") + kSettingsPath + " HTTP/1.1",
        {"Referer: " + own + kSettingsPath, "Cookie: " + cookie, "Content-Type: application/x-www-form-urlencoded"},
        kSaveForm);
    EXPECT_EQ(RawStatus(response), 200);
    EXPECT_NE(StoredApprovedList(console.DataDir()), list_before);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before + 1);
}

TEST(Protection, CrossSiteRequestsReachOnlyTheEntryPagesByNavigation) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const struct {
        std::string request_line;
        std::vector<std::string> headers;
        int status;
    } cases[] = {
        {"GET / HTTP/1.1", {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate"}, 303},
        {"GET /login HTTP/1.1", {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate"}, 200},
        {"GET /login HTTP/1.1", {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: no-cors"}, 403},
        {std::string("GET ") + kSettingsPath + " HTTP/1.1",
         {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate", "Cookie: " + cookie},
         403},
        {"GET /static/css/tessera.css HTTP/1.1", {"Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: no-cors"}, 403},
        {"GET /static/css/tessera.css HTTP/1.1", {"Sec-Fetch-Site: same-origin", "Sec-Fetch-Mode: no-cors"}, 200},
    };
    for (const auto& each : cases) {
        const std::string response = console.Exchange(each.request_line, each.headers);
        EXPECT_EQ(RawStatus(response), each.status) << each.request_line << " " << each.headers.back();
    }
}

TEST(Protection, PathsThatWouldLeaveTheWebRootAreNotFound) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const char* paths[] = {
        "/../../etc/passwd",
        "/%2e%2e/%2e%2e/etc/passwd",
        "/%2E%2E/%2E%2E/%2E%2E/%2E%2E/etc/passwd",
        "/scan/..%2f..%2f..%2f..%2fetc/passwd",
        "/scan/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
        "/%u002e%u002e/%u002e%u002e/etc/passwd",
        "/..%5c..%5c..%5cetc%5cpasswd",
        "//etc/passwd",
        "/%2fetc%2fpasswd",
        "/C:%5cWindows%5cwin.ini",
        "/static/../../../../etc/passwd",
        "/static/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
        "/static/css/..%2f..%2f..%2f..%2f..%2fetc%2fpasswd",
        "/static/%2fetc%2fpasswd",
        "/static/../html/scan/WebThreat_Protection.htm",
    };
    for (const char* path : paths) {
        const std::string response = console.Exchange(std::string("GET ") + path + " HTTP/1.1", {"Cookie: " + cookie});
        EXPECT_EQ(RawStatus(response), 404) << path;
        EXPECT_EQ(response.find("root:"), std::string::npos) << path;
    }
}

TEST(Protection, AHostNameThatIsNotLoopbackIsRefusedWhileListeningOnLoopback) {
    ConsoleServer console;
    const std::string response =
        RawExchange(console.Port(), "GET /login HTTP/1.1\r\nHost: rebound.example:" + std::to_string(console.Port()) +
                                        "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(RawStatus(response), 421);
    for (const char* host : {"localhost", "127.0.0.1", "[::1]"}) {
        const std::string ok =
            RawExchange(console.Port(), "GET /login HTTP/1.1\r\nHost: " + std::string(host) + ":" +
                                            std::to_string(console.Port()) + "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(RawStatus(ok), 200) << host;
    }
}

}  // namespace
}  // namespace tessera::test
