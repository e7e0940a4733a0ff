// The settings form, its reset and the list's export and import, as an
// administrator's requests reach them through tessera-console render.
#include "console_fixture.h"

#include <regex>

namespace tessera::test {
namespace {

const std::string kSettingsPage = "scan/WebThreat_Protection.htm";

// The <input> tag of the settings page with that id.
std::string InputTag(const std::string& page, const std::string& id) {
    const std::size_t at = page.find("id=\"" + id + "\"");
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t start = page.rfind('<', at);
    return page.substr(start, page.find('>', at) - start + 1);
}

bool IsTicked(const std::string& page, const std::string& id) {
    return std::regex_search(InputTag(page, id), std::regex(R"(\schecked[\s>])"));
}

// The option values of the approved list, in page order.
std::vector<std::string> ListedEntries(const std::string& page) {
    std::vector<std::string> entries;
    const std::regex option(R"(<option value="([^"]*)\">)");
    for (auto match = std::sregex_iterator(page.begin(), page.end(), option); match != std::sregex_iterator();
         ++match) {
        entries.push_back((*match)[1]);
    }
    return entries;
}

class SettingsFlowTest : public ConsoleTest {
protected:
    std::string Render(const std::vector<std::string>& fields) const {
        std::vector<std::string> arguments = {"render", "--page", kSettingsPage};
        for (const std::string& field : fields) {
            arguments.push_back("--field");
            arguments.push_back(field);
        }
        const ProcessResult result = Console(arguments);
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        return result.standard_output;
    }
    nlohmann::json Value(const std::string& instance, const std::string& property) const {
        return DumpStore({"QZ_UrlFilter", instance})["QZ_UrlFilter"][instance][property];
    }
};

TEST_F(SettingsFlowTest, SavedFormIsStoredAndShownByThePageThatFollows) {
    const std::string page =
        Render({"FormAction=save", "chkEnable=on", "rdoSecurityLevel=High", "rdoDeliverAct=cancel",
                "rdoArchive=ArchiveAct_no", "txtDeliverAct_Replace=<gone & done>", "chkAdminSNMP=on",
                "txtAdminEmail=admin@example.com", "stApprovedURL=b.example", "stApprovedURL=www.A.example",
                "stApprovedURL=*.B.EXAMPLE"});

    EXPECT_EQ(Value("URL_FILTER", "EnableURLFilter"), (nlohmann::json{{"vt", 11}, {"value", -1}}));
    EXPECT_EQ(Value("URL_FILTER", "SecurityLevelType"), (nlohmann::json{{"vt", 3}, {"value", 0}}));
    EXPECT_EQ(Value("URL_FILTER", "URLFilterActionType"), (nlohmann::json{{"vt", 3}, {"value", 1}}));
    EXPECT_EQ(Value("URL_FILTER", "EnableArchive"), (nlohmann::json{{"vt", 11}, {"value", 0}}));
    EXPECT_EQ(Value("URL_FILTER", "EnableApprovedList"), (nlohmann::json{{"vt", 11}, {"value", 0}}));
    EXPECT_EQ(Value("URL_FILTER", "ActionReplaceAll")["value"], "<gone & done>");
    const auto notification = Value("URL_FILTER", "UFNotificationSettings")["value"];
    EXPECT_EQ(notification["EnableSNMPNotify"]["value"], -1);
    EXPECT_EQ(notification["AdminEmailAddress"]["value"], "admin@example.com");
    const auto list = DumpStore({"QZ_UFApprovedLists", "UF_APPROVED_LIST"});
    EXPECT_EQ(list["QZ_UFApprovedLists"]["UF_APPROVED_LIST"]["ApprovedLists"]["value"],
              (nlohmann::json{"*.B.EXAMPLE", "www.A.example"}));

    EXPECT_TRUE(IsTicked(page, "chkEnable"));
    EXPECT_TRUE(IsTicked(page, "rdoSecurityLevelHigh"));
    EXPECT_FALSE(IsTicked(page, "rdoSecurityLevelMid"));
    EXPECT_TRUE(IsTicked(page, "rdoDeliverActCancel"));
    EXPECT_TRUE(IsTicked(page, "rdoArchiveNo"));
    EXPECT_FALSE(IsTicked(page, "chkEnableAppURL"));
    EXPECT_NE(InputTag(page, "txtDeliverAct_Replace").find("value=\"&lt;gone &amp; done&gt;\""), std::string::npos);
    EXPECT_EQ(ListedEntries(page), (std::vector<std::string>{"*.B.EXAMPLE", "www.A.example"}));
    EXPECT_EQ(ListedEntries(Render({})), ListedEntries(page));
}

TEST_F(SettingsFlowTest, ResetWithoutAPolicyRestoresTheSecondPolicyButShowsTheFirst) {
    Render({"FormAction=save", "txtPolicyInstanceId=URL_FILTER", "rdoSecurityLevel=High"});
    Render({"FormAction=save", "txtPolicyInstanceId=URL_FILTER_FILE", "rdoSecurityLevel=High"});

    const std::string page = Render({"FormAction=Reset", "txtPolicyInstanceId="});
    EXPECT_EQ(Value("URL_FILTER_FILE", "SecurityLevelType"), Value("URL_FILTER_FILE_DEFAULT", "SecurityLevelType"));
    EXPECT_NE(Value("URL_FILTER_FILE", "SecurityLevelType"), Value("URL_FILTER", "SecurityLevelType"));
    EXPECT_EQ(Value("URL_FILTER", "SecurityLevelType")["value"], 0);
    EXPECT_NE(InputTag(page, "txtPolicyInstanceId").find("value=\"URL_FILTER\""), std::string::npos);
    EXPECT_TRUE(IsTicked(page, "rdoSecurityLevelHigh"));  // the first policy, not the restored one

    const auto defaults = DumpStore({"QZ_UFApprovedLists"})["QZ_UFApprovedLists"];
    EXPECT_EQ(defaults["UF_APPROVED_LIST"], defaults["UF_APPROVED_LIST_DEFAULT"]);

    const ProcessResult audit = Console({"audit", "--json"});
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = audit.standard_output.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(audit.standard_output.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(nlohmann::json::parse(lines[2])["message"], nlohmann::json::parse(lines[0])["message"]);
}

TEST_F(SettingsFlowTest, ExportedListImportsBackToTheSameEntries) {
    const std::string page = Render({"FormAction=save", "stApprovedURL=a.example", "stApprovedURL=www.b.example",
                                     "stApprovedURL=*.c.example"});
    const std::vector<std::string> shown = ListedEntries(page);
    ASSERT_EQ(shown.size(), 3u);

    std::string joined;
    for (const std::string& entry : shown) {
        joined += entry + ";";
    }
    const ProcessResult exported =
        Console({"render", "--page", "scan/WebThreatProtection_Export.htm", "--field", "approved_list=" + joined});
    ASSERT_EQ(exported.exit_code, 0);
    const std::string file_text = exported.standard_output.substr(exported.standard_output.find("\n\n") + 2);
    // "*." sorts first on save, so the stored and shown order is the star entry's.
    EXPECT_EQ(file_text, "*.c.example\n*.a.example\nwww.b.example\n");

    const ProcessResult imported =
        Console({"render", "--page", "scan/WebThreatProtection_Import.htm", "--field-file",
                 "txtFile=" + WriteFile("ApprovedURLList.txt", file_text).string()});
    ASSERT_EQ(imported.exit_code, 0);
    EXPECT_NE(imported.standard_output.find("\n\"" + shown[0] + "\t" + shown[1] + "\t" + shown[2] + "\"\n"), std::string::npos)
        << imported.standard_output;

    // The save, the export and the import each wrote one record; showing wrote none.
    const ProcessResult audit = Console({"audit", "--json"});
    EXPECT_EQ(std::count(audit.standard_output.begin(), audit.standard_output.end(), '\n'), 3);
}

TEST_F(SettingsFlowTest, ImportWithoutAFileWritesNoAuditRecord) {
    const ProcessResult imported = Console({"render", "--page", "scan/WebThreatProtection_Import.htm"});
    ASSERT_EQ(imported.exit_code, 0);
    EXPECT_NE(imported.standard_output.find("\n\"\"\n"), std::string::npos);
    EXPECT_EQ(Console({"audit", "--json"}).standard_output, "");
}

}  // namespace
}  // namespace tessera::test
