// tessera-console audit: records of the plug-in's actions, as JSON lines and as a table.
#include "console_fixture.h"

#include <regex>
#include <sstream>

namespace tessera::test {
namespace {

const std::string kExportPage = "scan/WebThreatProtection_Export.htm";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

using AuditTest = ConsoleTest;

TEST_F(AuditTest, JsonPrintsOneObjectPerRecordOldestFirst) {
    const ProcessResult empty = Console({"audit", "--json"});
    EXPECT_EQ(empty.exit_code, 0) << empty.standard_error;
    EXPECT_EQ(empty.standard_output, "");

    ASSERT_EQ(Console({"render", "--page", kExportPage}).exit_code, 0);
    ASSERT_EQ(Console({"render", "--page", kExportPage, "--field", "approved_list=a"}).exit_code, 0);
    const ProcessResult audit = Console({"audit", "--json"});
    EXPECT_EQ(audit.exit_code, 0) << audit.standard_error;

    const std::regex kLine(R"(\{"seq": \d+, "time": "[^"]+", "context": \[".*", ".*", ".*"\], )"
                           R"("event_type": 2, "source_type": 1, "message": ".+"\})");
    const std::vector<std::string> lines = Lines(audit.standard_output);
    ASSERT_EQ(lines.size(), 2u) << audit.standard_output;
    std::int64_t previous_seq = 0;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(std::regex_match(line, kLine));
        const nlohmann::json record = nlohmann::json::parse(line);
        EXPECT_EQ(record["context"], nlohmann::json({"local", "local", kExportPage}));
        EXPECT_GT(record["seq"].get<std::int64_t>(), previous_seq);
        previous_seq = record["seq"].get<std::int64_t>();
    }
}

TEST_F(AuditTest, TableShowsOneLinePerRecordBelowAHeader) {
    ASSERT_EQ(Console({"render", "--page", kExportPage}).exit_code, 0);
    const ProcessResult audit = Console({"audit"});
    EXPECT_EQ(audit.exit_code, 0) << audit.standard_error;
    const std::vector<std::string> lines = Lines(audit.standard_output);
    ASSERT_EQ(lines.size(), 2u) << audit.standard_output;
    EXPECT_EQ(lines[0].rfind("SEQ", 0), 0u);
    EXPECT_NE(lines[1].find(kExportPage), std::string::npos);
}

}  // namespace
}  // namespace tessera::test
