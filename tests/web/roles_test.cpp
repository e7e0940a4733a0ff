// Each route as each role meets it: what the route table lets through, and
// that nothing of a refused request reaches the plug-in or the store.
#include "web_fixture.h"

#include <array>

namespace tessera::test {
namespace {

constexpr char kEditorPassword[] = "an editor's own passphrase";
constexpr char kAuditorPassword[] = "an auditor's own passphrase";

enum Who { kNobody, kAuditor, kEditor, kAdministrator };

struct RouteCase {
    const char* what;
    const char* method;
    std::string path;
    std::string form;           // URL-encoded; "upload" for the import page's file
    std::array<int, 4> status;  // by Who
};

httplib::Result Send(const ConsoleServer& console, const std::string& cookie, const RouteCase& test) {
    httplib::Client client = console.Client();
    httplib::Headers headers = {{"Origin", console.Origin()}};
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    if (std::string(test.method) == "GET") return client.Get(test.path, headers);
    if (test.form == "upload") {
        return client.Post(test.path, headers,
                           httplib::MultipartFormDataItems{{"txtFile", "role.example\n", "list.txt", "text/plain"}});
    }
    return client.Post(test.path, headers, test.form, "application/x-www-form-urlencoded");
}

// Each role on a console of its own, so that one's changes and failed
// sign-ins are not another's.
TEST(Roles, EachRouteAnswersEachRoleAsTheRouteTableSaysAndARefusalChangesNothing) {
    const std::string settings = kSettingsPath;
    const std::string save = "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=changed";
    const RouteCase cases[] = {
        {"the address", "GET", "/", "", {303, 303, 303, 303}},
        {"the sign-in page", "GET", "/login", "", {200, 200, 200, 200}},
        {"a style sheet", "GET", "/static/css/tessera.css", "", {200, 200, 200, 200}},
        {"the scripts' names", "GET", "/static/js/page_names.js", "", {200, 200, 200, 200}},
        {"the settings", "GET", settings, "", {303, 200, 200, 200}},
        {"a reset", "POST", settings, "FormAction=Reset&txtPolicyInstanceId=URL_FILTER", {303, 403, 200, 200}},
        {"a save", "POST", settings, save, {303, 403, 200, 200}},
        {"an import", "POST", "/scan/WebThreatProtection_Import.htm", "upload", {303, 403, 200, 200}},
        {"an export",
         "POST",
         "/scan/WebThreatProtection_Export.htm",
         "approved_list=a.example%3B",
         {303, 200, 200, 200}},
        {"History", "GET", "/history", "", {303, 200, 200, 200}},
        {"your account", "GET", "/account", "", {303, 200, 200, 200}},
        {"the accounts", "GET", "/administrators", "", {303, 403, 403, 200}},
        {"a change of accounts",
         "POST",
         "/administrators",
         "action=set-role&name=ed&role=editor",
         {303, 403, 403, 200}},
        {"a restore naming no record", "POST", "/history/restore", "seq=0", {303, 403, 503, 503}},
        {"a list served apart", "GET", "/approved-list/0123", "", {303, 404, 404, 404}},
        {"the second-factor page", "GET", "/login/code", "", {303, 303, 303, 303}},
        {"a passkey sign-in's options", "POST", "/passkey/options", "purpose=sign-in", {200, 200, 200, 200}},
        {"passkey options to register", "POST", "/passkey/options", "purpose=register", {400, 200, 200, 200}},
        {"a passkey's answer the console never asked for",
         "POST",
         "/login/passkey",
         "token=none",
         {200, 200, 200, 200}},
        {"signing out, last", "POST", "/logout", "", {303, 303, 303, 303}},
    };
    const struct {
        Who who;
        const char* user_name;
        const char* password;
    } people[] = {{kNobody, "", ""},
                  {kAuditor, "audrey", kAuditorPassword},
                  {kEditor, "ed", kEditorPassword},
                  {kAdministrator, "admin", kAdminPassword}};
    for (const auto& person : people) {
        SCOPED_TRACE(person.who == kNobody ? "without a session" : person.user_name);
        ConsoleServer console;
        const std::string data = console.DataDir().string();
        RunConsole({"user", "add", "ed", "--role", "editor", "--data", data}, std::string(kEditorPassword) + "\n");
        RunConsole({"user", "add", "audrey", "--role", "auditor", "--data", data},
                   std::string(kAuditorPassword) + "\n");
        const std::string stored = StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll");
        const std::string cookie = person.who == kNobody ? "" : console.SignIn(person.user_name, person.password);
        for (const RouteCase& test : cases) {
            const httplib::Result result = Send(console, cookie, test);
            ASSERT_TRUE(result) << test.what;
            EXPECT_EQ(result->status, test.status[person.who]) << test.what;
        }
        const bool may_change = person.who == kEditor || person.who == kAdministrator;
        EXPECT_EQ(StoredPolicyText(console.DataDir(), "URL_FILTER", "ActionReplaceAll") == stored, !may_change);
        for (const char* action : {"save", "reset", "import"}) {
            EXPECT_EQ(AuditRecordCount(console.DataDir(), action), may_change ? 1u : 0u) << action;
        }
        EXPECT_EQ(AuditRecordCount(console.DataDir(), "export"), person.who == kNobody ? 0u : 1u);
    }
}

TEST(Roles, AnAdministratorManagesAccountsFromTheAdministratorsPageAndOneAdministratorRemains) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const auto change = [&](const std::string& form) {
        const httplib::Result result = console.Client().Post("/administrators", console.FormHeaders(cookie), form,
                                                             "application/x-www-form-urlencoded");
        return result ? result->body : std::string();
    };
    EXPECT_NE(change("action=add&name=ed&role=editor&new_password=").find("Its password, shown only now: "),
              std::string::npos);
    EXPECT_NE(change("action=set-role&name=ed&role=auditor").find("Done: set-role"), std::string::npos);
    EXPECT_NE(change("action=set-role&name=admin&role=editor").find("the last enabled administrator"),
              std::string::npos);
    EXPECT_NE(change("action=remove&name=ed").find("Done: remove"), std::string::npos);
    const std::string listed = RunConsole({"user", "list", "--data", console.DataDir().string()});
    EXPECT_EQ(listed.find("\ned "), std::string::npos) << listed;
    EXPECT_NE(listed.find("admin                   administrator"), std::string::npos) << listed;
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "account-added"), 2u) << "the first administrator and ed";
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "role-changed"), 1u);
}

// A change of the account reaches its sessions at their next request.
TEST(Roles, ANewRoleCountsAtOnceAndADisabledAccountsSessionsEnd) {
    ConsoleServer console;
    const std::string data = console.DataDir().string();
    RunConsole({"user", "add", "ed", "--role", "editor", "--data", data}, std::string(kEditorPassword) + "\n");
    const std::string cookie = console.SignIn("ed", kEditorPassword);
    const auto save_status = [&] {
        const httplib::Result result = console.Client().Post(kSettingsPath, console.FormHeaders(cookie),
                                                             "FormAction=save&txtPolicyInstanceId=URL_FILTER",
                                                             "application/x-www-form-urlencoded");
        return result ? result->status : -1;
    };
    EXPECT_EQ(save_status(), 200);
    RunConsole({"user", "set-role", "ed", "auditor", "--data", data});
    EXPECT_EQ(save_status(), 403);
    RunConsole({"user", "disable", "ed", "--data", data});
    EXPECT_EQ(save_status(), 303) << "signed out";
    RunConsole({"user", "enable", "ed", "--data", data});
    EXPECT_EQ(save_status(), 303) << "the ended session stays ended";
}

}  // namespace
}  // namespace tessera::test
