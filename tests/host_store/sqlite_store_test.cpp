// The SQLite store: provisioning, locking, atomicity and connection lifetimes.
#include "audit_log.h"
#include "mgmt_object.h"
#include "store_fixture.h"

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

using tessera::host::PropertyBag;
using tessera::host::SqliteStore;
using tessera::host::StoredInstance;
using tessera::test::ResourceDir;
using tessera::test::ScopedEnvironment;
using tessera::test::StoreTest;

using SqliteStoreTest = StoreTest;

TEST_F(SqliteStoreTest, StoresOpenedAtOnceOnAFreshFileProvisionItOnce) {
    const std::filesystem::path fresh = folder_ / "fresh.db";
    std::atomic<int> failures{0};
    std::vector<std::thread> openers;
    for (int index = 0; index < 4; ++index) {
        openers.emplace_back([&] {
            try {
                SqliteStore::Open(fresh, ResourceDir());
            } catch (const std::exception& error) {
                ADD_FAILURE() << error.what();
                ++failures;
            }
        });
    }
    for (std::thread& opener : openers) {
        opener.join();
    }
    EXPECT_EQ(failures, 0);
    const auto store = SqliteStore::Open(fresh, ResourceDir());
    EXPECT_EQ(store->List(nullptr, nullptr).size(), 6u);

    ASSERT_TRUE(store->Delete(L"QZ_UrlFilter", L"URL_FILTER"));
    EXPECT_EQ(SqliteStore::Open(fresh, ResourceDir())->List(nullptr, nullptr).size(), 5u);  // not provisioned again
}

TEST_F(SqliteStoreTest, BusyTimeoutComesFromTheEnvironmentAndIsValidated) {
    {
        const ScopedEnvironment timeout("TESSERA_STORE_BUSY_MS", "250");
        EXPECT_EQ(SqliteStore::Open(DatabaseFile(), ResourceDir())->BusyTimeoutMs(), 250);
    }
    EXPECT_EQ(store_->BusyTimeoutMs(), 5000);
    for (const char* invalid : {"", "abc", "-1", "5ms", "600001", "99999999999"}) {
        SCOPED_TRACE(invalid);
        const ScopedEnvironment timeout("TESSERA_STORE_BUSY_MS", invalid);
        EXPECT_THROW(SqliteStore::Open(DatabaseFile(), ResourceDir()), std::runtime_error);
    }
}

TEST_F(SqliteStoreTest, WritesThatCannotTakeTheLockInTimeFailAndTheirAuditRecordWaitsForTheNextCommit) {
    const ScopedEnvironment timeout("TESSERA_STORE_BUSY_MS", "20");
    tessera::host::SetCurrentStore(SqliteStore::Open(DatabaseFile(), ResourceDir()));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(DatabaseFile().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
    EXPECT_TRUE(policy.Get());  // readers go on beside a writer
    policy.SetPropertyValue(L"EnableURLFilter", false);
    EXPECT_FALSE(policy.Put(false));
    EXPECT_FALSE(InsertAuditLog(L"u", L"a", L"p", EventType_ConfigurationChange, SourceType_WebConsole, L"m"));

    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    ASSERT_EQ(store_->ReadAudit().size(), 1u);
    EXPECT_EQ(store_->ReadAudit()[0].seq, 0) << "shown as kept aside, not yet stored";

    EXPECT_TRUE(std::static_pointer_cast<SqliteStore>(tessera::host::CurrentStore())
                    ->RunAction([&] { EXPECT_TRUE(policy.Put(false)); })
                    .is_stored);
    const auto records = store_->ReadAudit();
    ASSERT_EQ(records.size(), 1u) << "stored once, no longer kept aside";
    EXPECT_GT(records[0].seq, 0);
    EXPECT_EQ(records[0].message, L"m");

    std::ifstream log(folder_ / "debug.log");
    const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(logged.find(" 4099 sqlite_store:"), std::string::npos) << logged;
    EXPECT_NE(logged.find("Cannot save QZ_UrlFilter/URL_FILTER: "), std::string::npos) << logged;
    EXPECT_NE(logged.find("Cannot append an audit record; it is kept aside: "), std::string::npos) << logged;
}

TEST_F(SqliteStoreTest, AWriteTheDatabaseRefusesIsRolledBackAndLeavesTheStoreWritable) {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(DatabaseFile().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "CREATE TRIGGER refuse_update BEFORE UPDATE ON instances WHEN NEW.instance = 'URL_FILTER' "
                           "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(policy.Get());
    policy.SetPropertyValue(L"SecurityLevelType", 2);
    EXPECT_FALSE(policy.Put(false));

    // Left open, the failed transaction would hold the write lock.
    EXPECT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; COMMIT", nullptr, nullptr, nullptr), SQLITE_OK)
        << "another program can write at once";
    ASSERT_EQ(sqlite3_exec(other, "DROP TRIGGER refuse_update", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_TRUE(policy.Put(false)) << "and so can this store";
}

TEST_F(SqliteStoreTest, ConcurrentWritersAllSucceed) {
    constexpr int kThreads = 4;
    constexpr int kWritesPerThread = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int thread = 0; thread < kThreads; ++thread) {
        writers.emplace_back([&, thread] {
            for (int write = 0; write < kWritesPerThread; ++write) {
                CMgmtObject policy(L"QZ_UrlFilter", thread % 2 == 0 ? L"URL_FILTER" : L"URL_FILTER_FILE");
                bool stored = policy.Get();
                policy.SetPropertyValue(L"SecurityLevelType", write);
                stored = policy.Put(false) && stored;
                stored = InsertAuditLog(std::to_wstring(thread), L"a", L"p", EventType_ConfigurationChange,
                                        SourceType_WebConsole, std::to_wstring(write)) &&
                         stored;
                failures += stored ? 0 : 1;
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures, 0);
    const auto records = store_->ReadAudit();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kWritesPerThread));
    for (std::size_t index = 1; index < records.size(); ++index) {
        EXPECT_LT(records[index - 1].seq, records[index].seq);
    }
}

TEST_F(SqliteStoreTest, ReplaceIsAllOrNothing) {
    PropertyBag storable;
    storable.SetInt(L"Number", 1);
    PropertyBag unstorable;
    unstorable.Set(L"Nothing", _variant_t());
    const std::vector<StoredInstance> load = {{L"QZ_UrlFilter", L"URL_FILTER", storable},
                                              {L"QZ_Other", L"NEW", unstorable}};
    EXPECT_THROW(store_->Replace(load), tessera::host::StoreFormatError);
    PropertyBag properties;
    ASSERT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", properties));
    EXPECT_NE(properties.Find(L"EnableURLFilter"), nullptr);
    EXPECT_EQ(properties.Find(L"Number"), nullptr);
    EXPECT_FALSE(store_->Load(L"QZ_Other", L"NEW", properties));

    store_->Replace({load[0]});
    ASSERT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", properties));
    EXPECT_EQ(properties.Items().size(), 1u);
    EXPECT_TRUE(store_->Delete(L"QZ_UrlFilter", L"URL_FILTER"));
    EXPECT_FALSE(store_->Delete(L"QZ_UrlFilter", L"URL_FILTER"));
}

TEST_F(SqliteStoreTest, DestroyingTheStoreClosesTheConnectionsOfLiveThreads) {
    std::mutex mutex;
    std::condition_variable changed;
    bool loaded = false;
    bool destroyed = false;
    std::thread reader([&] {
        PropertyBag properties;
        EXPECT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", properties));
        std::unique_lock lock(mutex);
        loaded = true;
        changed.notify_all();
        changed.wait(lock, [&] { return destroyed; });
        // A store opened afterwards gets a connection of its own in this thread.
        const auto reopened = SqliteStore::Open(DatabaseFile(), ResourceDir());
        EXPECT_TRUE(reopened->Load(L"QZ_UrlFilter", L"URL_FILTER", properties));
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return loaded; });
        tessera::host::SetCurrentStore(nullptr);
        store_.reset();
        destroyed = true;
        changed.notify_all();
    }
    reader.join();
}

}  // namespace
