// Runs tessera-console as a process against a fresh data folder per test.
#pragma once

#include "process_runner.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tessera::test {

class ConsoleTest : public ::testing::Test {
protected:
    // tessera-console with `arguments`, then --data and this test's data folder.
    ProcessResult Console(std::vector<std::string> arguments) const {
        arguments.push_back("--data");
        arguments.push_back(data_dir_.string());
        return RunProcess(ConsolePath(), arguments);
    }

    // A file beside the data folder.
    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = root_ / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

    // Makes and provisions the store as a first page load does: the commands
    // that only read refuse a data folder without one.
    void Provision() const {
        const ProcessResult result = Console({"render", "--page", "scan/WebThreat_Protection.htm"});
        ASSERT_EQ(result.exit_code, 0) << result.standard_error;
    }

    // The whole store, or one class or instance, as `store dump` writes it.
    nlohmann::json DumpStore(std::vector<std::string> filter = {}) const {
        filter.insert(filter.begin(), {"store", "dump"});
        const ProcessResult result = Console(filter);
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        return nlohmann::json::parse(result.standard_output);
    }

    TempFolder temp_{"tessera-console"};
    std::filesystem::path root_ = temp_.path();
    std::filesystem::path data_dir_ = root_ / "var";  // not created: the console makes it on first use
};

inline bool IsOneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

}  // namespace tessera::test
