// Sign-in, sessions, sign-out and the password command.
#include "web_fixture.h"

#include "process_runner.h"
#include "test_paths.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>

namespace tessera::test {
namespace {

std::string SignInBody(const std::string& user_name, const std::string& password) {
    return "username=" + httplib::detail::encode_query_param(user_name) +
           "&password=" + httplib::detail::encode_query_param(password);
}

// A sign-in from `local_address`, so each case has its own failure count.
std::string RawSignIn(const ConsoleServer& console, const std::string& user_name, const std::string& password,
                      const std::string& local_address) {
    return console.Exchange("POST /login HTTP/1.1",
                            {"Origin: " + console.Origin(), "Content-Type: application/x-www-form-urlencoded"},
                            SignInBody(user_name, password), local_address);
}

TEST(SignIn, FirstStartMakesTheAdministratorFromTheEnvironmentAndStoresOnlyASaltedHash) {
    ConsoleServer console;
    const std::string printed = console.StandardOutput();
    EXPECT_NE(printed.find("http://127.0.0.1:" + std::to_string(console.Port()) + "/"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\"admin\""), std::string::npos) << printed;
    EXPECT_NE(printed.find("TESSERA_ADMIN_PASSWORD"), std::string::npos) << printed;
    EXPECT_EQ(printed.find(kAdminPassword), std::string::npos) << "the password was printed";
    ASSERT_EQ(console.Stop(), 0);

    const std::string hash = StoredPasswordHash(console.DataDir(), "admin");
    EXPECT_TRUE(std::regex_match(hash, std::regex("pbkdf2-hmac-sha256\\$310000\\$[0-9a-f]{32}\\$[0-9a-f]{64}")))
        << hash;
    for (const char* file : {"store.db", "store.db-wal"}) {
        EXPECT_EQ(console.DataFile(file).find(kAdminPassword), std::string::npos) << "the password was stored";
    }
    EXPECT_NE(RunConsole({"user", "list", "--data", console.DataDir().string()}).find("admin"), std::string::npos);

    // Later starts keep the stored password and say so when the environment names another.
    for (const std::string& password : {std::string(kAdminPassword), std::string("another password 2")}) {
        ServeOptions again;
        again.data_dir = console.DataDir();
        again.admin_password = password;
        ConsoleServer restarted(again);
        const std::string restart_output = restarted.StandardOutput();
        EXPECT_EQ(restart_output.find("TESSERA_ADMIN_PASSWORD is ignored") != std::string::npos,
                  password != kAdminPassword)
            << restart_output;
    }
}

// admin.json as the version before named accounts wrote it.
TEST(SignIn, TheAccountFileOfAnEarlierVersionBecomesTheAdministratorWithTheSamePassword) {
    const TempFolder folder("tessera-earlier");
    const std::filesystem::path data = folder.path() / "var";
    std::filesystem::create_directories(data);
    std::ofstream(data / "admin.json") << R"({"user": "admin", "algorithm": "pbkdf2-hmac-sha256", "iterations": 1000,
        "salt": "00112233445566778899aabbccddeeff",
        "hash": "2c4a45568f4a98e7622027806f54969873195dc4fb166bb66b392df9ea085aff"})";
    ServeOptions options;
    options.data_dir = data;
    ConsoleServer console(options);
    EXPECT_NE(console.StandardOutput().find("is now the administrator \"admin\", with the same password"),
              std::string::npos)
        << console.StandardOutput();
    EXPECT_FALSE(std::filesystem::exists(data / "admin.json"));
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", kAdminPassword, "127.0.0.1")), 200)
        << "the environment's is not it";
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", "an earlier version password", "127.0.0.2")), 303);
    EXPECT_EQ(AuditRecordCount(data, "account-added"), 1u);
}

TEST(SignIn, WithoutAPasswordInTheEnvironmentOneIsGeneratedAndShown) {
    ServeOptions options;
    options.admin_password.reset();
    ConsoleServer console(options);
    const std::string printed = console.StandardOutput();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(printed, match, std::regex("first start: (\\S{20})\n"))) << printed;
    httplib::Client client = console.Client();
    const httplib::Result result = client.Post("/login", httplib::Headers{{"Origin", console.Origin()}},
                                               SignInBody("admin", match[1]), "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 303) << "the shown password signs in";
}

TEST(SignIn, RightCredentialsSetAStrictHttpOnlySessionCookieAndLeadToTheSettings) {
    ConsoleServer console;
    const std::string response = RawSignIn(console, "admin", kAdminPassword, "127.0.0.1");
    EXPECT_EQ(RawStatus(response), 303);
    EXPECT_EQ(RawHeader(response, "Location"), kSettingsPath);
    const std::string cookie = RawHeader(response, "Set-Cookie");
    EXPECT_TRUE(std::regex_match(cookie, std::regex("tessera_session=[0-9a-f]{32}; HttpOnly; SameSite=Strict; Path=/")))
        << cookie;

    httplib::Client client = console.Client();
    const httplib::Result page = client.Get(kSettingsPath, {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    ASSERT_TRUE(page);
    EXPECT_NE(page->status, 303) << "a signed-in request reaches the page";
    EXPECT_NE(console.SignIn(), cookie.substr(0, cookie.find(';'))) << "every sign-in gets a fresh id";
}

TEST(SignIn, RepeatedFailuresSlowDownThatAddressAlone) {
    ConsoleServer console;
    // A user name of control characters cannot break the audit listing's line or drive its terminal.
    for (const char* user_name : {"admin", "admin", "x\x1b[2J\r\n\x7f"}) {
        EXPECT_EQ(RawStatus(RawSignIn(console, user_name, "wrong password", "127.0.0.1")), 200);
    }
    const std::string barred = RawSignIn(console, "admin", kAdminPassword, "127.0.0.1");
    EXPECT_EQ(RawStatus(barred), 429) << "even the right password waits";
    EXPECT_EQ(RawHeader(barred, "Set-Cookie"), "");
    const int retry_after = std::atoi(RawHeader(barred, "Retry-After").c_str());
    EXPECT_GE(retry_after, 1);
    EXPECT_LE(retry_after, 60);

    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", kAdminPassword, "127.0.0.2")), 303)
        << "another address is not held up";

    // Each checked attempt is audited, never its password; a refusal unchecked is not.
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "sign-in-failed"), 3u);
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "sign-in"), 1u);
    const std::string audit = RunConsole({"audit", "--data", console.DataDir().string()});
    EXPECT_EQ(audit.find("wrong password"), std::string::npos);
    EXPECT_NE(audit.find(" x\\x1b[2J\\r\\n\\x7f "), std::string::npos) << audit;
    EXPECT_EQ(audit.find('\x1b'), std::string::npos);
}

TEST(SignIn, WithoutASessionEveryPageRedirectsToSignInAndNothingIsStoredOrAudited) {
    ConsoleServer console;
    const std::vector<std::string> list_before = StoredApprovedList(console.DataDir());
    const std::size_t audit_before = AuditRecordCount(console.DataDir());
    const std::string save = "FormAction=save&txtPolicyInstanceId=URL_FILTER&stApprovedURL=planted.example.com";
    const std::string export_form = "approved_list=planted.example.com%3B";

    httplib::Client client = console.Client();
    const std::string cookies[] = {"", "tessera_session=00000000000000000000000000000000", "tessera_session=../x"};
    for (const std::string& cookie : cookies) {
        httplib::Headers headers = {{"Origin", console.Origin()}};
        if (!cookie.empty()) headers.emplace("Cookie", cookie);
        const httplib::Result results[] = {
            client.Get(kSettingsPath, headers),
            client.Get("/no/such/page.htm", headers),
            client.Get("/history", headers),
            client.Get("/approved-list/0123", headers),
            client.Post(kSettingsPath, headers, save, "application/x-www-form-urlencoded"),
            client.Post("/history/restore", headers, "seq=1", "application/x-www-form-urlencoded"),
            client.Post("/scan/WebThreatProtection_Export.htm", headers, export_form,
                        "application/x-www-form-urlencoded"),
            client.Post(
                "/scan/WebThreatProtection_Import.htm", headers,
                httplib::MultipartFormDataItems{{"txtFile", "planted.example.com\n", "list.txt", "text/plain"}}),
        };
        for (const httplib::Result& result : results) {
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, 303) << "cookie " << cookie;
            EXPECT_EQ(result->get_header_value("Location"), "/login");
        }
    }
    EXPECT_EQ(StoredApprovedList(console.DataDir()), list_before);
    EXPECT_EQ(AuditRecordCount(console.DataDir()), audit_before);

    for (const char* open_path : {"/login", "/static/css/tessera.css"}) {
        const httplib::Result result = client.Get(open_path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 200) << open_path;
    }
}

TEST(SignIn, PasswdChangesThePasswordAndSignsEverybodyOut) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string data = console.DataDir().string();
    const std::string new_password = "a new and longer password";
    const std::string printed =
        RunConsole({"passwd", "--data", data}, new_password + "\n", {{"TESSERA_ADMIN_PASSWORD", ""}});
    EXPECT_NE(printed.find("admin"), std::string::npos);

    httplib::Client client = console.Client();
    const httplib::Result after = client.Get(kSettingsPath, console.FormHeaders(cookie));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 303) << "the session made with the old password ended";
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", kAdminPassword, "127.0.0.1")), 200) << "the old one fails";
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", new_password, "127.0.0.1")), 303);

    RunConsole({"passwd", "--data", data}, {}, {{"TESSERA_ADMIN_PASSWORD", "from the environment"}});
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", "from the environment", "127.0.0.1")), 303);

    ProcessOptions too_short;
    too_short.standard_input = "short\n";
    too_short.environment = {{"TESSERA_ADMIN_PASSWORD", ""}};
    EXPECT_EQ(RunProcess(ConsolePath(), {"passwd", "--data", data}, too_short).exit_code, 2);
    EXPECT_EQ(RawStatus(RawSignIn(console, "admin", "from the environment", "127.0.0.3")), 303)
        << "a refused password changes nothing";
}

}  // namespace
}  // namespace tessera::test
