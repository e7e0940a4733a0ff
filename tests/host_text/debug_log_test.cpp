// The debug log: record format, escaping to one line, the 64 KiB cut, and
// writing in batches.
#include "debug_log.h"
#include "host_config.h"
#include "rotating_log_file.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using tessera::test::TempFolder;

void UseDataDir(const std::filesystem::path& data_dir) {
    tessera::host::HostSettings settings;
    settings.data_dir = data_dir;
    tessera::host::Configure(settings);
}

// The records of <data_dir>/debug.log without their time, which is checked apart.
std::vector<std::string> Records(const std::filesystem::path& data_dir) {
    static const std::regex utc_time(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z)");
    std::ifstream file(data_dir / "debug.log", std::ios::binary);
    std::vector<std::string> records;
    for (std::string line; std::getline(file, line);) {
        EXPECT_TRUE(std::regex_match(line.substr(0, 24), utc_time)) << line.substr(0, 80);
        records.push_back(line.substr(24));
    }
    std::filesystem::resize_file(data_dir / "debug.log", 0);  // the log goes on appending to it
    return records;
}

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override { UseDataDir(folder_.path()); }
    void TearDown() override { tessera::host::Configure({}); }

    TempFolder folder_;
};

TEST_F(DebugLogTest, WritesOneEscapedLinePerRecord) {
    DBG::DebugLogEx(nullptr, 258, "src", 2, "%s", "\x01\x1f\x7f bad \xFF \xC3\xA9\r\n");
    EXPECT_EQ(Records(folder_.path()),
              std::vector<std::string>{" 258 src:2 \\x01\\x1f\\x7f bad \xEF\xBF\xBD \xC3\xA9\\r\\n"});
}

TEST_F(DebugLogTest, CutsMessagesOver64KiBWithAMarker) {
    std::string accented = "a";  // 1 + 2 * 40000 bytes: the limit falls inside a character
    std::string escaped_breaks;
    for (int count = 0; count < 40000; ++count) {
        accented += "\xC3\xA9";
        escaped_breaks += count < 32768 ? "\\n" : "";
    }
    struct Case {
        std::string message;
        std::string shown;
    };
    const Case cases[] = {
        {std::string(65536, 'x'), std::string(65536, 'x')},
        {std::string(70000, 'x'), std::string(65536, 'x') + "...[cut: 4464 more bytes]"},
        {accented, accented.substr(0, 65535) + "...[cut: 14466 more bytes]"},
        {std::string(40000, '\n'), escaped_breaks + "...[cut: 7232 more bytes]"},
    };
    for (const Case& c : cases) {
        DBG::DebugLogEx(nullptr, 258, "src", 1, "%s", c.message.c_str());
        EXPECT_EQ(Records(folder_.path()), std::vector<std::string>{" 258 src:1 " + c.shown})
            << "message of " << c.message.size() << " bytes";
    }
}

TEST_F(DebugLogTest, BatchedLinesWaitForTheirBatchButAFailureGoesAtOnce) {
    using Lines = std::vector<std::string>;
    {
        const tessera::host::BatchedLogWriting batched(std::chrono::hours(1));
        DBG::DebugLogEx(nullptr, 258, "src", 1, "%s", "kept");
        EXPECT_FALSE(std::filesystem::exists(folder_.path() / "debug.log"));
        DBG::DebugLogEx(nullptr, 4099, "src", 2, "%s", "failed");
        EXPECT_EQ(Records(folder_.path()), (Lines{" 258 src:1 kept", " 4099 src:2 failed"}));
        DBG::DebugLogEx(nullptr, 258, "src", 3, "%s", "at the end");
    }
    EXPECT_EQ(Records(folder_.path()), Lines{" 258 src:3 at the end"});
    DBG::DebugLogEx(nullptr, 258, "src", 4, "%s", "alone");
    EXPECT_EQ(Records(folder_.path()), Lines{" 258 src:4 alone"}) << "no batching once it ended";
}

}  // namespace
