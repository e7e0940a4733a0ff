// tessera-console render of a form action: one store transaction, whatever
// happens to the process, on either engine.
#include "console_fixture.h"
#include "postgres_server.h"

#include <csignal>
#include <random>

namespace tessera::test {
namespace {

// On the data folder's SQLite file, or on a PostgreSQL database of its own.
class StoreActionTest : public ConsoleTest, public ::testing::WithParamInterface<bool> {
protected:
    std::vector<std::string> StoreArguments() {
        if (!GetParam()) return {};
        if (store_url_.empty()) store_url_ = PostgresServer::Shared().CreateDatabase();
        return {"--store", store_url_};
    }

private:
    std::string store_url_;
};

INSTANTIATE_TEST_SUITE_P(Engines, StoreActionTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& on) { return on.param ? "PostgreSQL" : "SQLite"; });

// Each generation saves "gen-N" as a policy text and a list whose entries all
// start with "gN-"; a process killed at any moment must leave one generation
// in both objects, never the new settings beside the old list.
TEST_P(StoreActionTest, AKillAtAnyMomentOfASaveLeavesTheOldStateOrTheNewOneWhole) {
    const std::vector<std::string> store = StoreArguments();
    constexpr int kEntries = 100000;
    constexpr int kKills = 20;
    const auto save_generation = [&](int generation, std::chrono::milliseconds timeout) {
        std::string list;
        for (int index = 0; index < kEntries; ++index) {
            list += "g" + std::to_string(generation) + "-" + std::to_string(index) + ".example.com;";
        }
        const std::filesystem::path list_file = WriteFile("list.txt", list);
        ProcessOptions options;
        options.timeout = timeout;
        std::vector<std::string> arguments = {"render",
                                              "--data",
                                              data_dir_.string(),
                                              "--page",
                                              "scan/WebThreat_Protection.htm",
                                              "--field",
                                              "FormAction=save",
                                              "--field",
                                              "txtDeliverAct_Replace=gen-" + std::to_string(generation),
                                              "--field-file",
                                              "stApprovedURL=" + list_file.string()};
        arguments.insert(arguments.end(), store.begin(), store.end());
        return RunProcess(ConsolePath(), arguments, options);
    };
    const auto stored_generations = [&] {
        std::vector<std::string> policy_filter = {"QZ_UrlFilter", "URL_FILTER"};
        std::vector<std::string> list_filter = {"QZ_UFApprovedLists", "UF_APPROVED_LIST"};
        policy_filter.insert(policy_filter.end(), store.begin(), store.end());
        list_filter.insert(list_filter.end(), store.begin(), store.end());
        const nlohmann::json policy = DumpStore(policy_filter);
        const nlohmann::json list = DumpStore(list_filter);
        const std::string text = policy["QZ_UrlFilter"]["URL_FILTER"]["ActionReplaceAll"]["value"];
        const std::string first = list["QZ_UFApprovedLists"]["UF_APPROVED_LIST"]["ApprovedLists"]["value"].at(0);
        return std::make_pair(text.substr(4), first.substr(3, first.find('-') - 3));  // "gen-N", "*.gN-..."
    };

    // The first save also provisions the store, so the second one is timed.
    ASSERT_EQ(save_generation(0, std::chrono::milliseconds(60000)).exit_code, 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(save_generation(0, std::chrono::milliseconds(60000)).exit_code, 0);
    const auto full_save =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

    std::mt19937 random(20261206);
    int killed = 0;
    for (int generation = 1; generation <= kKills; ++generation) {
        const auto kill_after = std::chrono::milliseconds(random() % static_cast<unsigned>(full_save.count() + 1));
        const ProcessResult result = save_generation(generation, kill_after);
        killed += result.term_signal == SIGKILL ? 1 : 0;
        const auto [settings, list] = stored_generations();
        EXPECT_EQ(settings, list) << "killed after " << kill_after.count() << " ms of " << full_save.count();
    }
    EXPECT_GT(killed, kKills / 2) << "most saves must be cut short for the test to mean anything";
}

}  // namespace
}  // namespace tessera::test
