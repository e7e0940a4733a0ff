// tessera-console's command line: help, usage errors and failures to start.
#include "console_fixture.h"

#include <sys/wait.h>

namespace tessera::test {
namespace {

using UsageTest = ConsoleTest;

// Nothing runs on a usage error: not even the data folder is created.
TEST_F(UsageTest, UsageErrorsExitTwoWithOneLine) {
    const std::string missing_file = (root_ / "missing.txt").string();
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"render", "--page"},
             {"render", "--page", "p", "--field", "no-equals-sign"},
             {"render", "--page", "p", "--field", "=value-without-name"},
             {"render", "--page", "p", "--max-upload", "lots"},
             {"render", "--page", "p", "--no-such-option"},
             {"render", "--page", "p", "--field-file", "approved_list=" + missing_file},
             {"store", "delete", "QZ_UrlFilter"},
             {"store", "load", missing_file},
         }) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ProcessResult result = Console(arguments);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.standard_output, "");
        EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
        EXPECT_FALSE(std::filesystem::exists(data_dir_));
    }
    // An unknown command is named, with the ones there are.
    const std::pair<std::vector<std::string>, std::string> incomplete[] = {
        {{"no-such-command"},
         "unknown command \"no-such-command\"; the commands are render, store, audit, list, serve"},
        {{"store", "frob"}, "unknown command \"frob\"; the commands are dump, load, check, copy, delete"},
    };
    for (const auto& [arguments, message] : incomplete) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ProcessResult result = RunProcess(ConsolePath(), arguments);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
        EXPECT_NE(result.standard_error.find(message), std::string::npos) << result.standard_error;
    }
}

TEST_F(UsageTest, StoreThatCannotBeOpenedIsNamed) {
    const std::vector<std::string> render = {"render", "--page", "scan/WebThreat_Protection.htm", "--data",
                                             data_dir_.string()};
    for (const char* busy_ms : {"abc", "-1", "600001"}) {
        ProcessOptions options;
        options.environment = {{"TESSERA_STORE_BUSY_MS", busy_ms}};
        const ProcessResult result = RunProcess(ConsolePath(), render, options);
        EXPECT_EQ(result.exit_code, 1) << busy_ms;
        EXPECT_NE(result.standard_error.find("TESSERA_STORE_BUSY_MS"), std::string::npos) << result.standard_error;
    }
    std::filesystem::create_directories(data_dir_ / "store.db");  // a folder where the database belongs
    const ProcessResult result = Console({"render", "--page", "scan/WebThreat_Protection.htm"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(IsOneLine(result.standard_error)) << result.standard_error;
    EXPECT_NE(result.standard_error.find("store.db"), std::string::npos) << result.standard_error;
}

TEST_F(UsageTest, PluginThatCannotBeLoadedIsNamed) {
    const std::string plugin = WriteFile("libNotAPlugin.so", "not a library").string();
    const ProcessResult result = Console({"render", "--page", "scan/WebThreat_Protection.htm", "--plugin", plugin});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_NE(result.standard_error.find(plugin), std::string::npos) << result.standard_error;
}

// A command whose output was lost has not done its work, whatever it read.
TEST_F(UsageTest, OutputThatCannotBeWrittenIsAFailureAndNoExportIsAudited) {
    // One audit record at least, so that every command has something to write.
    Provision();
    ASSERT_EQ(Console({"list", "export", (root_ / "list.txt").string()}).exit_code, 0);
    const auto exports = [&] { return Console({"audit", "--json", "--action", "export"}).standard_output; };
    const std::string exports_before = exports();
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"render", "--page", "scan/WebThreat_Protection.htm"},
             {"store", "dump"},
             {"store", "check"},
             {"audit"},
             {"audit", "--json"},
             {"list", "export", "-"},
         }) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        std::vector<std::string> with_data = arguments;
        with_data.insert(with_data.end(), {"--data", data_dir_.string()});
        const std::filesystem::path errors = root_ / "stderr.txt";
        const pid_t pid = StartProcess(ConsolePath(), with_data, {}, {"/dev/full", errors});
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const std::string standard_error = ReadWholeFile(errors);
        EXPECT_TRUE(IsOneLine(standard_error)) << standard_error;
        EXPECT_NE(standard_error.find("to standard output"), std::string::npos) << standard_error;
    }
    EXPECT_EQ(exports(), exports_before);
}

}  // namespace
}  // namespace tessera::test
