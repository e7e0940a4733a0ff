// History over HTTP: a restore brings back exactly the list and settings as
// they were before any change, through later changes and restores, and is
// refused once the store was changed behind the console's back.
#include "web_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace tessera::test {
namespace {

struct StoredState {
    std::vector<std::string> entries;
    int security_level = -1;
    bool operator==(const StoredState& other) const {
        return entries == other.entries && security_level == other.security_level;
    }
};

StoredState Stored(const ConsoleServer& console) {
    const nlohmann::json policy =
        nlohmann::json::parse(RunConsole({"store", "dump", "QZ_UrlFilter", "URL_FILTER", "--data",
                                          console.DataDir().string()}))["QZ_UrlFilter"]["URL_FILTER"];
    return {StoredApprovedList(console.DataDir()), policy["SecurityLevelType"]["value"].get<int>()};
}

// Saves and returns the audit record of the save, as the console names it.
std::string Save(const ConsoleServer& console, const std::string& cookie, const std::vector<std::string>& entries,
                 const char* level) {
    std::string form = std::string("FormAction=save&txtPolicyInstanceId=URL_FILTER&rdoSecurityLevel=") + level;
    for (const std::string& entry : entries) form += "&stApprovedURL=" + httplib::detail::encode_query_param(entry);
    const httplib::Result saved =
        console.Client().Post(kSettingsPath, console.FormHeaders(cookie), form, "application/x-www-form-urlencoded");
    EXPECT_TRUE(saved && saved->status == 200);
    return saved ? saved->get_header_value("X-Tessera-Record") : std::string();
}

httplib::Result Restore(const ConsoleServer& console, const std::string& cookie, const std::string& record) {
    return console.Client().Post("/history/restore", console.FormHeaders(cookie), "seq=" + record,
                                 "application/x-www-form-urlencoded");
}

TEST(History, RestoringBeforeAnyChangeBringsBackThatStateExactly) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    std::vector<std::string> many;
    for (int index = 0; index < 500; ++index) many.push_back("www.site" + std::to_string(1000 + index) + ".example");
    // Each save changes the list another way: the order alone (a value is cut at ";" after the sort),
    // into the middle, at the start, all of it, none of it.
    const std::pair<std::vector<std::string>, const char*> saves[] = {
        {{"www.c.example;www.a.example"}, "Low"},
        {{"www.a.example", "www.c.example"}, "High"},
        {{"www.a.example", "www.b.example", "www.c.example"}, "High"},
        {{"www.b.example", "www.c.example"}, "Low"},
        {many, "Mid"},
        {{}, "Mid"},
        {{"www.a.example", "www.site1000.example", "www.z.example"}, "High"},
    };
    std::vector<StoredState> before;
    std::vector<std::string> records;
    for (const auto& [entries, level] : saves) {
        before.push_back(Stored(console));
        records.push_back(Save(console, cookie, entries, level));
        ASSERT_FALSE(records.back().empty());
    }
    // Newest first, each restore a change of its own that the next one undoes too.
    for (std::size_t index = records.size(); index-- > 0;) {
        SCOPED_TRACE("before save " + std::to_string(index));
        const httplib::Result restored = Restore(console, cookie, records[index]);
        ASSERT_TRUE(restored);
        EXPECT_EQ(restored->status, 303);
        EXPECT_TRUE(Stored(console) == before[index]);
    }
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "restore"), records.size());
}

TEST(History, ARestoreIsRefusedOnceTheStoreWasChangedOutsideTheConsole) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    const std::string record = Save(console, cookie, {"www.a.example"}, "High");
    const std::filesystem::path file = console.DataDir().parent_path() / "list.json";
    std::ofstream(file) << R"({"QZ_UFApprovedLists": {"UF_APPROVED_LIST": {"ApprovedLists": {"vt": 8200,
                            "value": ["www.loaded.example"]}}}})";
    RunConsole({"store", "load", file.string(), "--data", console.DataDir().string()});

    const httplib::Result refused = Restore(console, cookie, record);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 409);
    EXPECT_NE(refused->body.find("Nothing was restored: QZ_UFApprovedLists/UF_APPROVED_LIST was changed outside the "
                                 "console after record " +
                                 record),
              std::string::npos);
    EXPECT_EQ(StoredApprovedList(console.DataDir()), std::vector<std::string>{"www.loaded.example"});
    EXPECT_EQ(AuditRecordCount(console.DataDir(), "restore"), 0u);
}

// Each row says through what the change came: the browser, the API with the
// token's name, the command line.
TEST(History, EachRecordSaysThroughWhatItCame) {
    ConsoleServer console;
    const std::string cookie = console.SignIn();
    Save(console, cookie, {"www.browser.example"}, "Low");
    const std::string made =
        RunConsole({"token", "create", "--name", "deploy", "--scope", "write", "--data", console.DataDir().string()});
    EXPECT_NE(made.find("Token \"deploy\" of \"admin\" (write, id "), std::string::npos) << made;
    const std::string token = made.substr(made.rfind("tsr_"), made.find('\n', made.rfind("tsr_")) - made.rfind("tsr_"));
    const httplib::Result patched =
        console.Client().Patch("/api/v1/approved-list", {{"Authorization", "Bearer " + token}, {"If-Match", "*"}},
                               R"({"add": ["www.api.example"]})", "application/json");
    ASSERT_TRUE(patched);
    EXPECT_EQ(patched->status, 200) << patched->body;
    RunConsole({"render", "--page", "scan/WebThreat_Protection.htm", "--field", "FormAction=save", "--data",
                console.DataDir().string()});

    const httplib::Result history = console.Client().Get("/history", console.FormHeaders(cookie));
    ASSERT_TRUE(history);
    ASSERT_EQ(history->status, 200);
    const std::string& page = history->body;
    const std::size_t command_line = page.find(" on the command line</p>");
    const std::size_t api = page.find(" through the API with the token <strong>deploy</strong></p>");
    const std::size_t browser = page.find(" in the browser</p>");
    ASSERT_NE(command_line, std::string::npos) << page;
    ASSERT_NE(api, std::string::npos) << page;
    ASSERT_NE(browser, std::string::npos) << page;
    EXPECT_LT(command_line, api) << "newest first";
    EXPECT_LT(api, browser) << "newest first";
}

}  // namespace
}  // namespace tessera::test
