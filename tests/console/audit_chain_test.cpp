// tessera-console audit verify and audit head against stores that another
// program changed behind the console's back.
#include "console_fixture.h"
#include "console_store.h"
#include "host_config.h"
#include "mgmt_store.h"

#include <sqlite3.h>

#include <regex>

namespace tessera::test {
namespace {

const std::string kSettingsPage = "scan/WebThreat_Protection.htm";
constexpr int kRecords = 5;

class AuditChainTest : public ConsoleTest {
protected:
    // Five saves, records 1 to 5.
    void MakeRecords() const {
        for (int save = 0; save < kRecords; ++save) {
            const ProcessResult result = Console({"render", "--page", kSettingsPage, "--field", "FormAction=save"});
            ASSERT_EQ(result.exit_code, 0) << result.standard_error;
        }
    }

    // Runs `sql` on the store as another program would.
    void Tamper(const std::string& sql) const {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open((data_dir_ / "store.db").c_str(), &database), SQLITE_OK);
        char* error = nullptr;
        const int result = sqlite3_exec(database, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error == nullptr ? "" : error;
        sqlite3_free(error);
        sqlite3_close(database);
        ASSERT_EQ(result, SQLITE_OK) << message;
    }

    std::string Head() const {
        const ProcessResult head = Console({"audit", "head"});
        EXPECT_EQ(head.exit_code, 0) << head.standard_error;
        EXPECT_TRUE(std::regex_match(head.standard_output, std::regex("[0-9]+:[0-9a-f]{64}\n")))
            << head.standard_output;
        return head.standard_output.substr(0, head.standard_output.size() - 1);
    }
};

// Each change names the first record it broke: its text, its channel, a
// record removed, two records' times swapped, one added by hand; and with a
// head kept before, records removed after it and a chain made again from
// scratch over a changed record, which verify alone cannot tell.
TEST_F(AuditChainTest, VerifyNamesTheFirstRecordEachChangeBreaks) {
    const std::string kSwapTimes =
        "UPDATE audit SET time = CASE seq WHEN 2 THEN (SELECT time FROM audit WHERE seq = 3)"
        " ELSE (SELECT time FROM audit WHERE seq = 2) END WHERE seq IN (2, 3)";
    const struct {
        const char* name;
        std::string sql;
        bool uses_kept_head;
        int broken_at;
        const char* problem;
    } cases[] = {
        {"a message changed", "UPDATE audit SET message = 'Nothing was saved.' WHERE seq = 3", false, 3,
         "is not what was chained"},
        {"a channel changed", "UPDATE actions SET channel = 'api' WHERE audit_seq = 2", false, 2,
         "is not what was chained"},
        {"a record removed", "DELETE FROM audit WHERE seq = 2", false, 2, "record 2 is missing"},
        {"two records swapped", kSwapTimes, false, 2, "is not what was chained"},
        {"a record inserted",
         "INSERT INTO audit (time, user, client_address, page_id, event_type, source_type, message)"
         " VALUES ('2026-12-08T10:00:00.000Z', 'mallory', '203.0.113.9', 'x', 2, 1, 'Nothing happened.')",
         false, kRecords + 1, "has no chain value"},
        {"the records after the kept head removed", "DELETE FROM audit WHERE seq >= 4", true, 4,
         "records 4 to 5 are missing"},
        {"the chain made again over a changed record",
         "UPDATE audit SET message = 'Nothing was saved.' WHERE seq = 3; ALTER TABLE audit DROP COLUMN chain", true,
         kRecords, "is not the kept head"},
    };
    for (const auto& tampering : cases) {
        SCOPED_TRACE(tampering.name);
        std::filesystem::remove_all(data_dir_);
        MakeRecords();
        const std::string head = Head();
        EXPECT_EQ(head.substr(0, 2), std::to_string(kRecords) + ":");
        Tamper(tampering.sql);
        if (tampering.uses_kept_head) {
            // Without the head the shortened or rebuilt chain holds.
            const ProcessResult alone = Console({"audit", "verify"});
            EXPECT_EQ(alone.exit_code, 0) << alone.standard_error;
        }
        std::vector<std::string> arguments{"audit", "verify"};
        if (tampering.uses_kept_head) arguments.insert(arguments.end(), {"--head", head});
        const ProcessResult verify = Console(arguments);
        EXPECT_EQ(verify.exit_code, 1);
        EXPECT_EQ(verify.standard_output, "");
        EXPECT_TRUE(IsOneLine(verify.standard_error)) << verify.standard_error;
        EXPECT_NE(verify.standard_error.find("breaks at record " + std::to_string(tampering.broken_at) + ": "),
                  std::string::npos)
            << verify.standard_error;
        EXPECT_NE(verify.standard_error.find(tampering.problem), std::string::npos) << verify.standard_error;
    }
}

// Records written while no console holds the store and records stored by
// actions join the same chain; a hundred thousand verify, and say how long.
TEST_F(AuditChainTest, AnUntouchedStoreOfAHundredThousandRecordsVerifies) {
    constexpr int kManyRecords = 100000;
    Provision();
    {
        host::Configure({data_dir_, SourceDir(), ResourceDir()});
        const std::shared_ptr<host::ConsoleStore> store =
            host::ConsoleStore::Open(data_dir_ / "store.db", ResourceDir());
        ASSERT_TRUE(
            store->AppendAudit({0, "", {L"alone", L"local", L"page"}, 2, 1, L"Outside any action.", "", "", "", ""}));
        const host::ActionOutcome outcome = store->RunAction([&store] {
            for (int record = 1; record < kManyRecords; ++record) {
                store->AppendAudit({0,
                                    "",
                                    {L"admin", L"192.0.2.1", L"page"},
                                    2,
                                    1,
                                    L"Record " + std::to_wstring(record) + L".",
                                    "save",
                                    "",
                                    "api",
                                    "deploy"});
            }
        });
        ASSERT_TRUE(outcome.is_stored) << outcome.refusal;
        host::Configure(host::HostSettings{});
    }
    const std::string head = Head();
    EXPECT_EQ(head.substr(0, head.find(':')), std::to_string(kManyRecords));
    const ProcessResult verify = Console({"audit", "verify", "--head", head});
    EXPECT_EQ(verify.exit_code, 0) << verify.standard_error;
    EXPECT_TRUE(std::regex_match(verify.standard_output,
                                 std::regex("the audit chain is whole: 100000 records, the latest " + head +
                                            ", the kept head among them; checked in [0-9]+\\.[0-9]{2} s\n")))
        << verify.standard_output;
    std::cout << verify.standard_output;
}

// A head that is no SEQ:VALUE is a usage error, before the store is opened.
TEST_F(AuditChainTest, AHeadThatIsNoSeqAndValueIsAUsageError) {
    Provision();
    for (const std::string& head :
         std::vector<std::string>{"5", "0:" + std::string(64, 'a'), "5:" + std::string(63, 'a'),
                                  "5:" + std::string(64, 'g'), "x:" + std::string(64, 'a')}) {
        SCOPED_TRACE(head);
        const ProcessResult verify = Console({"audit", "verify", "--head", head});
        EXPECT_EQ(verify.exit_code, 2) << verify.standard_error;
    }
}

}  // namespace
}  // namespace tessera::test
