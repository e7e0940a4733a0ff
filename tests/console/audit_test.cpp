// tessera-console audit: records of the plug-in's actions, as JSON lines and as a table.
#include "console_fixture.h"

#include <regex>
#include <sstream>

namespace tessera::test {
namespace {

const std::string kExportPage = "scan/WebThreatProtection_Export.htm";
const std::string kSettingsPage = "scan/WebThreat_Protection.htm";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

using AuditTest = ConsoleTest;

// Commands that only read never make a data folder, so a mistyped --data or
// a run from another folder is said, not answered with an empty store.
TEST_F(AuditTest, ReadingCommandsRefuseAFolderWithoutAStore) {
    for (const bool is_folder_made : {false, true}) {
        if (is_folder_made) std::filesystem::create_directories(data_dir_);
        for (const std::vector<std::string>& arguments :
             std::vector<std::vector<std::string>>{{"audit"},
                                                   {"audit", "--json"},
                                                   {"store", "dump"},
                                                   {"store", "delete", "QZ_UrlFilter", "URL_FILTER"},
                                                   {"list", "export", "-"}}) {
            SCOPED_TRACE(testing::PrintToString(arguments) + (is_folder_made ? " in an empty folder" : ""));
            const ProcessResult result = Console(arguments);
            EXPECT_EQ(result.exit_code, 1);
            EXPECT_EQ(result.standard_output, "");
            EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
            EXPECT_NE(result.standard_error.find(is_folder_made ? "holds no store" : "there is no data folder"),
                      std::string::npos)
                << result.standard_error;
            EXPECT_EQ(std::filesystem::exists(data_dir_), is_folder_made);
            EXPECT_FALSE(std::filesystem::exists(data_dir_ / "store.db"));
        }
    }
}

TEST_F(AuditTest, PrintsOneRecordPerLineOldestFirstWithItsActionAndTypeNames) {
    ASSERT_EQ(Console({"render", "--page", kExportPage}).exit_code, 0);
    ASSERT_EQ(Console({"render", "--page", kSettingsPage, "--field", "FormAction=SAVE"}).exit_code, 0);
    ASSERT_EQ(Console({"render", "--page", kExportPage, "--field", "approved_list=a"}).exit_code, 0);
    const ProcessResult audit = Console({"audit", "--json"});
    EXPECT_EQ(audit.exit_code, 0) << audit.standard_error;

    const std::regex kLine(R"(\{"seq": \d+, "time": "[^"]+", "action": "[a-z]+", "context": \[".*", ".*", ".*"\], )"
                           R"("event_type": 2, "event": "change", "source_type": 1, "source": "page plug-in", )"
                           R"("message": ".+", "channel": "command line"\})");
    const std::vector<std::string> lines = Lines(audit.standard_output);
    ASSERT_EQ(lines.size(), 3u) << audit.standard_output;
    std::vector<std::string> actions;
    std::int64_t previous_seq = 0;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(std::regex_match(line, kLine));
        const nlohmann::json record = nlohmann::json::parse(line);
        EXPECT_EQ(record["context"][0], "local");
        EXPECT_GT(record["seq"].get<std::int64_t>(), previous_seq);
        previous_seq = record["seq"].get<std::int64_t>();
        actions.push_back(record["action"]);
    }
    EXPECT_EQ(actions, (std::vector<std::string>{"export", "save", "export"}));

    const std::string day = nlohmann::json::parse(lines[0])["time"].get<std::string>().substr(0, 10);
    const struct {
        std::vector<std::string> filter;
        std::vector<std::string> kept_lines;
    } filters[] = {
        {{"--action", "export"}, {lines[0], lines[2]}},
        {{"--action", "reset"}, {}},
        {{"--limit", "2"}, {lines[1], lines[2]}},
        {{"--since", day, "--until", day}, lines},
        {{"--since", day + "T23:59:59", "--action", "save"}, {}},
        {{"--until", "2000-01-01"}, {}},
    };
    for (const auto& [filter, kept_lines] : filters) {
        SCOPED_TRACE(testing::PrintToString(filter));
        std::vector<std::string> arguments = {"audit", "--json"};
        arguments.insert(arguments.end(), filter.begin(), filter.end());
        const ProcessResult filtered = Console(arguments);
        EXPECT_EQ(filtered.exit_code, 0) << filtered.standard_error;
        EXPECT_EQ(Lines(filtered.standard_output), kept_lines);
    }
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"--since", "2026-12"}, {"--until", "yesterday"}, {"--action", "delete"}, {"--limit", "0"}}) {
        std::vector<std::string> arguments = {"audit"};
        arguments.insert(arguments.end(), refused.begin(), refused.end());
        EXPECT_EQ(Console(arguments).exit_code, 2) << testing::PrintToString(refused);
    }

    // Without --json, a table: a header, then one line per record.
    const std::vector<std::string> table = Lines(Console({"audit"}).standard_output);
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[0].rfind("SEQ", 0), 0u);
    EXPECT_NE(table[1].find(kExportPage), std::string::npos);
    EXPECT_NE(table[1].find("  export  "), std::string::npos) << table[1];
    EXPECT_NE(table[1].find("  change  page plug-in  "), std::string::npos) << table[1];
}

}  // namespace
}  // namespace tessera::test
