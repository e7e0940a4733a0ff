// The store, on each engine (a real SQLite file, a real PostgreSQL server),
// where the console's tests cannot reach: provisioning by stores that open at
// once, Get and Put of only existing instances named exactly, objects read
// together that share their values, read transactions and what they see of
// changes, a write the database refuses, versions, rows, an action's accounts
// with its record, History and the chain, and the outbox.
#include "console_store.h"
#include "host_config.h"
#include "mgmt_object.h"
#include "os_string.h"
#include "postgres_server.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using tessera::host::ConsoleStore;
using tessera::host::PropertyBag;
using tessera::host::StoreAddress;
using tessera::test::PostgresServer;
using tessera::test::ResourceDir;
using tessera::test::TempFolder;
using Engine = StoreAddress::Engine;

// What another program runs on the store, in each engine's words.
struct Sql {
    const char* sqlite;
    const char* postgresql;
};

// A fresh store of the engine, provisioned from the project's data folder and
// made the current one; its folder also holds the debug log.
class ConsoleStoreTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        tessera::host::HostSettings settings;
        settings.data_dir = folder_;  // the store's failures go to folder_/debug.log
        tessera::host::Configure(settings);
        address_ = FreshAddress("store.db");
        store_ = ConsoleStore::Open(address_, ResourceDir());
        tessera::host::SetCurrentStore(store_);
    }
    void TearDown() override {
        tessera::host::SetCurrentStore(nullptr);
        store_.reset();
        tessera::host::Configure(tessera::host::HostSettings{});
    }

    // A store nobody has opened yet: the file `name`, or a new database.
    StoreAddress FreshAddress(const std::string& name) const {
        const std::string url = GetParam() == Engine::kSqlite ? "sqlite:" + (folder_ / name).string()
                                                              : PostgresServer::Shared().CreateDatabase();
        return tessera::host::ParseStoreAddress(url, folder_);
    }

    // Runs `sql` as another program would, on a connection of its own; returns
    // the first column of its first row, or why it failed after "failed: ".
    std::string RunElsewhere(const Sql& sql) const {
        std::string answer;
        if (GetParam() == Engine::kSqlite) {
            sqlite3* other = nullptr;
            int result = sqlite3_open(address_.target.c_str(), &other);
            sqlite3_stmt* statement = nullptr;
            const char* rest = sql.sqlite;
            while (result == SQLITE_OK && *rest != '\0' &&
                   (result = sqlite3_prepare_v2(other, rest, -1, &statement, &rest)) == SQLITE_OK) {
                if (statement == nullptr) break;
                result = sqlite3_step(statement);
                if (result == SQLITE_ROW && answer.empty()) {
                    answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                }
                result = result == SQLITE_ROW || result == SQLITE_DONE ? SQLITE_OK : result;
                sqlite3_finalize(statement);
            }
            if (result != SQLITE_OK) answer = std::string("failed: ") + sqlite3_errmsg(other);
            sqlite3_close(other);
            return answer;
        }
        PGconn* other = PQconnectdb(address_.target.c_str());
        PGresult* result = PQexec(other, sql.postgresql);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            answer = std::string("failed: ") + PQerrorMessage(other);
        } else if (status == PGRES_TUPLES_OK && PQntuples(result) > 0) {
            answer = PQgetvalue(result, 0, 0);
        }
        PQclear(result);
        PQfinish(other);
        return answer;
    }

    TempFolder temp_{"tessera-host-store"};
    std::filesystem::path folder_ = temp_.path();
    StoreAddress address_;
    std::shared_ptr<ConsoleStore> store_;
};

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleStoreTest, ::testing::Values(Engine::kSqlite, Engine::kPostgresql),
                         [](const ::testing::TestParamInfo<Engine>& engine) {
                             return engine.param == Engine::kSqlite ? "SQLite" : "PostgreSQL";
                         });

TEST_P(ConsoleStoreTest, StoresOpenedAtOnceOnAFreshStoreProvisionItOnce) {
    const StoreAddress fresh = FreshAddress("fresh.db");
    std::atomic<int> failures{0};
    std::vector<std::thread> openers;
    for (int index = 0; index < 4; ++index) {
        openers.emplace_back([&] {
            try {
                ConsoleStore::Open(fresh, ResourceDir());
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
    const auto store = ConsoleStore::Open(fresh, ResourceDir());
    EXPECT_EQ(store->List(nullptr, nullptr).size(), 6u);

    ASSERT_TRUE(store->Delete(L"QZ_UrlFilter", L"URL_FILTER"));
    EXPECT_EQ(ConsoleStore::Open(fresh, ResourceDir())->List(nullptr, nullptr).size(), 5u);  // not provisioned again
}

TEST_P(ConsoleStoreTest, OnlyExistingInstancesNamedExactlyCanBeGotOrPut) {
    const std::pair<const wchar_t*, const wchar_t*> missing[] = {
        {L"QZ_UrlFilter", L"url_filter"},
        {L"qz_urlfilter", L"URL_FILTER"},
        {L"QZ_UrlFilter", L"URL_FILTER "},
        {L"QZ_UrlFilter", L"UF_APPROVED_LIST"},
    };
    for (const auto& [class_name, instance_name] : missing) {
        CMgmtObject object(class_name, instance_name);
        EXPECT_FALSE(object.Get());
        EXPECT_EQ(object.GetPropertyValue(L"EnableURLFilter"), nullptr);
        object.SetPropertyValue(L"EnableURLFilter", true);
        EXPECT_FALSE(object.Put(false));
    }
    EXPECT_EQ(store_->List(nullptr, nullptr).size(), 6u);  // no Put created an instance
}

TEST_P(ConsoleStoreTest, PutFailsBeforeGetAndOnceTheInstanceIsGone) {
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER_FILE");
    EXPECT_FALSE(policy.Put(false));
    ASSERT_TRUE(policy.Get());
    ASSERT_TRUE(store_->Delete(L"QZ_UrlFilter", L"URL_FILTER_FILE"));
    EXPECT_FALSE(policy.Put(false));
    PropertyBag properties;
    EXPECT_FALSE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER_FILE", properties));
}

TEST_P(ConsoleStoreTest, AChangeThroughALiveViewReachesNoOtherReadOfTheObjectUntilPut) {
    const auto admin_subject = [](const CMgmtObjectBase& policy) {
        const CMgmtObjectBase notification(policy.GetPropertyValue(L"UFNotificationSettings"), false);
        const _variant_t* subject = notification.GetPropertyValue(L"AdminSubject");
        return subject != nullptr && subject->vt == VT_BSTR ? std::wstring(subject->bstrVal) : std::wstring();
    };
    CMgmtObject changed(L"QZ_UrlFilter", L"URL_FILTER");
    CMgmtObject other(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(changed.Get());
    ASSERT_TRUE(other.Get());
    const std::wstring stored = admin_subject(other);
    ASSERT_FALSE(stored.empty());
    {
        // Nothing else of the policy is changed first.
        CMgmtObjectBase notification(changed.GetPropertyValue(L"UFNotificationSettings"), true);
        notification.SetPropertyValue(L"AdminSubject", L"changed subject");
    }
    EXPECT_EQ(admin_subject(changed), L"changed subject");
    EXPECT_EQ(admin_subject(other), stored);
    CMgmtObject read_later(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(read_later.Get());
    EXPECT_EQ(admin_subject(read_later), stored);

    ASSERT_TRUE(changed.Put(false));
    ASSERT_TRUE(read_later.Get());
    EXPECT_EQ(admin_subject(read_later), L"changed subject");
}

TEST_P(ConsoleStoreTest, InsideAReadTransactionObjectsReadButNothingIsStored) {
    store_->RunReading([] {
        CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
        ASSERT_TRUE(policy.Get());
        policy.SetPropertyValue(L"ActionReplaceAll", L"written while reading");
        EXPECT_FALSE(policy.Put(false));
    });
    PropertyBag stored;
    ASSERT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", stored));
    const _variant_t* text = stored.Find(L"ActionReplaceAll");
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::wstring(text->bstrVal), L"written while reading");

    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");  // and the store writes again after it
    ASSERT_TRUE(policy.Get());
    policy.SetPropertyValue(L"ActionReplaceAll", L"written after");
    EXPECT_TRUE(policy.Put(false));
}

// A read transaction hands out again what an earlier one of the same thread
// loaded only while nothing changed the file in between.
TEST_P(ConsoleStoreTest, AReadTransactionSeesEveryChangeMadeSinceTheThreadsLastOne) {
    const auto read_text = [this] {
        std::wstring text;
        store_->RunReading([&] {
            PropertyBag stored;
            ASSERT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", stored));
            const _variant_t* value = stored.Find(L"ActionReplaceAll");
            ASSERT_NE(value, nullptr);
            text = value->bstrVal;
        });
        return text;
    };
    const auto put_text = [](const wchar_t* text) {
        CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
        ASSERT_TRUE(policy.Get());
        policy.SetPropertyValue(L"ActionReplaceAll", text);
        ASSERT_TRUE(policy.Put(false));
    };
    const std::shared_ptr<ConsoleStore> other_store = ConsoleStore::Open(address_, ResourceDir());
    const std::pair<const char*, std::function<void()>> writers[] = {
        {"this store", [&] { put_text(L"by this store"); }},
        {"another store of this process",
         [&] {
             tessera::host::SetCurrentStore(other_store);
             put_text(L"by another store");
             tessera::host::SetCurrentStore(store_);
         }},
        {"a hand edit",
         [&] {
             EXPECT_EQ(RunElsewhere({"UPDATE instances SET properties = json_set(properties, "
                                     "'$.ActionReplaceAll.value', 'by hand') WHERE instance = 'URL_FILTER'",
                                     "UPDATE instances SET properties = jsonb_set(properties::jsonb, "
                                     "'{ActionReplaceAll,value}', '\"by hand\"')::text WHERE instance = 'URL_FILTER'"}),
                       "");
         }},
    };
    read_text();
    for (const auto& [writer, write] : writers) {
        const std::wstring before = read_text();
        EXPECT_EQ(read_text(), before) << writer;
        write();
        EXPECT_NE(read_text(), before) << writer;
    }
    EXPECT_EQ(read_text(), L"by hand");
}

TEST_P(ConsoleStoreTest, AWriteTheDatabaseRefusesIsRolledBackAndLeavesTheStoreWritable) {
    ASSERT_EQ(RunElsewhere({"CREATE TRIGGER refuse_update BEFORE UPDATE ON instances WHEN NEW.instance = 'URL_FILTER' "
                            "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END",
                            "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                            "'BEGIN RAISE EXCEPTION ''refused by the test''; END'; "
                            "CREATE TRIGGER refuse_update BEFORE UPDATE ON instances FOR EACH ROW "
                            "WHEN (NEW.instance = 'URL_FILTER') EXECUTE FUNCTION refuse()"}),
              "");
    CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
    ASSERT_TRUE(policy.Get());
    policy.SetPropertyValue(L"SecurityLevelType", 2);
    EXPECT_FALSE(policy.Put(false));

    // Left open, the failed transaction would hold the write lock.
    const std::string take_writer_lock = "BEGIN; SET LOCAL lock_timeout = 1000; SELECT pg_advisory_xact_lock(" +
                                         std::to_string(tessera::host::kPostgresWriterLock) + "); COMMIT";
    EXPECT_EQ(RunElsewhere({"BEGIN IMMEDIATE; COMMIT", take_writer_lock.c_str()}), "")
        << "another program can write at once";
    ASSERT_EQ(RunElsewhere({"DROP TRIGGER refuse_update", "DROP TRIGGER refuse_update ON instances"}), "");
    EXPECT_TRUE(policy.Put(false)) << "and so can this store";
}

TEST_P(ConsoleStoreTest, AnObjectsVersionGrowsWithEveryWriteThatChangesItAndWithNoOther) {
    const auto version = [this] { return store_->VersionOf(L"QZ_UrlFilter", L"URL_FILTER"); };
    ASSERT_EQ(version(), 1);
    EXPECT_EQ(store_->VersionOf(L"QZ_UrlFilter", L"NO_SUCH_POLICY"), 0);
    const auto put_level = [](int level) {
        CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
        ASSERT_TRUE(policy.Get());
        policy.SetPropertyValue(L"SecurityLevelType", level);
        ASSERT_TRUE(policy.Put(false));
    };
    PropertyBag stored;
    ASSERT_TRUE(store_->Load(L"QZ_UrlFilter", L"URL_FILTER", stored));
    const auto replace_with_stored = [&] { store_->Replace({{L"QZ_UrlFilter", L"URL_FILTER", stored}}); };
    const std::pair<const char*, std::function<void()>> writes[] = {
        {"a Put that changes a value", [&] { put_level(2); }},
        {"a Put of the same values", [&] { put_level(2); }},
        {"a Replace with other values", replace_with_stored},
        {"a Replace with the same values", replace_with_stored},
    };
    const std::int64_t expected[] = {2, 2, 3, 3};
    for (std::size_t index = 0; index < std::size(writes); ++index) {
        writes[index].second();
        EXPECT_EQ(version(), expected[index]) << writes[index].first;
    }
    EXPECT_EQ(store_->VersionOf(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST"), 1) << "another object's is its own";
}

// The row is the document nlohmann's dump() writes of the list, whatever the
// texts hold, and a load from the cache the save filled gives what a load of
// the row gives: a text that is no Unicode text is not handed back unchanged.
TEST_P(ConsoleStoreTest, ASavedListsRowIsItsJsonAndEveryLoadGivesWhatTheRowHolds) {
    const std::wstring texts[] = {
        L"www.example.com",
        L"quote \" and backslash \\ ",
        L"controls \b\f\n\r\t\x01\x1f\x7f",
        L"Gr\u00fc\u00dfe \u2013 \u6771\u4eac \U0001F600",
        std::wstring(L"lone ") + static_cast<wchar_t>(0xD800) + L" surrogate",
    };
    CMgmtBSTRArrayAccessHelper builder;
    for (const std::wstring& text : texts) builder.Add(text.c_str());
    _variant_t list;
    builder.PutElementsIntoArray(list);
    {
        CMgmtObject approved(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST");
        ASSERT_TRUE(approved.Get());
        approved.SetPropertyValue(L"ApprovedLists", list);
        ASSERT_TRUE(approved.Put(false));
    }

    nlohmann::ordered_json expected_texts = nlohmann::ordered_json::array();
    for (const std::wstring& text : texts) expected_texts.push_back(OS::ToUtf8(text));
    const nlohmann::ordered_json expected = {{"ApprovedLists", {{"vt", 8200}, {"value", expected_texts}}}};
    const char* select = "SELECT properties FROM instances WHERE instance = 'UF_APPROVED_LIST'";
    EXPECT_EQ(RunElsewhere({select, select}), expected.dump());

    const auto loaded_texts = [](ConsoleStore& store) {
        PropertyBag loaded;
        EXPECT_TRUE(store.Load(L"QZ_UFApprovedLists", L"UF_APPROVED_LIST", loaded));
        std::vector<std::wstring> found;
        const CMgmtBSTRArrayAccessHelper entries(loaded.Find(L"ApprovedLists"));
        for (std::size_t index = 0; index < entries.GetElementsCount(); ++index) {
            found.emplace_back(entries.GetElement(index));
        }
        return found;
    };
    const std::vector<std::wstring> from_row = loaded_texts(*ConsoleStore::Open(address_, ResourceDir()));
    ASSERT_EQ(from_row.size(), std::size(texts));
    EXPECT_EQ(from_row.back(), L"lone \uFFFD surrogate");
    EXPECT_EQ(loaded_texts(*store_), from_row);
}

}  // namespace

namespace {

std::vector<std::int64_t> OutboxSeqs(ConsoleStore& store, const std::string& destination) {
    std::vector<std::int64_t> seqs;
    for (const tessera::host::OutboxRecord& waiting : store.ReadOutbox(destination, 100)) {
        seqs.push_back(waiting.entry.record.seq);
    }
    return seqs;
}

}  // namespace

// An action's account rows, audit record and change commit together, History
// shows the record with what it changed, and the chain covers it; an action
// that throws leaves none of its writes, and its record is kept marked.
TEST_P(ConsoleStoreTest, AnActionsAccountsRecordAndChangeCommitTogetherOrNotAtAll) {
    const auto act = [&](const char* account, int level, bool throws) {
        return store_->RunAction(
            [&] {
                ASSERT_TRUE(store_->PutAccount({account, "editor", "hash", false, "2026-12-09T00:00:00Z", "", 1}));
                CMgmtObject policy(L"QZ_UrlFilter", L"URL_FILTER");
                ASSERT_TRUE(policy.Get());
                policy.SetPropertyValue(L"SecurityLevelType", level);
                ASSERT_TRUE(policy.Put(false));
                tessera::host::AuditRecord record;
                record.context[0] = L"admin";
                record.message = L"Changed.";
                ASSERT_TRUE(store_->AppendAudit(record));
                if (throws) throw std::runtime_error("the action failed");
            },
            "save");
    };
    const tessera::host::ActionOutcome stored = act("carol", 2, false);
    ASSERT_TRUE(stored.is_stored) << stored.refusal;
    EXPECT_TRUE(store_->ReadAccount("carol"));
    EXPECT_THROW(act("dave", 3, true), std::runtime_error);
    EXPECT_FALSE(store_->ReadAccount("dave"));
    EXPECT_EQ(store_->VersionOf(L"QZ_UrlFilter", L"URL_FILTER"), 2) << "the second change is not stored";

    const std::vector<tessera::host::HistoryRecord> history = store_->ReadHistory({"save", {}, {}, 0, 0, 0});
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].record.seq, 0) << "the failed action's record, kept aside";
    EXPECT_FALSE(history[0].record.rolled_back.empty());
    EXPECT_EQ(history[1].record.seq, stored.audit_seq);
    EXPECT_EQ(history[1].changes_summary, stored.changes_summary);
    EXPECT_NE(stored.changes_summary.find("URL_FILTER"), std::string::npos) << stored.changes_summary;
    const std::vector<tessera::host::StoredInstance> before = store_->StateBefore(stored.audit_seq);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].instance_name, L"URL_FILTER");

    const tessera::host::AuditChainCheck chain = store_->VerifyAuditChain(std::nullopt);
    EXPECT_FALSE(chain.broken_at) << chain.problem;
    EXPECT_EQ(chain.head_seq, stored.audit_seq);
    EXPECT_EQ(store_->ReadAuditHead(), std::make_pair(chain.head_seq, chain.head_chain));
}

TEST_P(ConsoleStoreTest, ARecordLeavesTheOutboxOnlyOnceEveryDestinationHasIt) {
    for (int index = 0; index < 4; ++index) {
        tessera::host::AuditRecord record;
        record.message = L"record " + std::to_wstring(index);
        ASSERT_TRUE(store_->AppendAudit(record));
    }
    const std::vector<std::string> both = {"tcp://a:514", "journal"};
    store_->StartForwarding(both);
    store_->MarkForwarded("journal", 3, both);
    EXPECT_EQ(OutboxSeqs(*store_, "journal"), (std::vector<std::int64_t>{4}));
    EXPECT_EQ(OutboxSeqs(*store_, "tcp://a:514"), (std::vector<std::int64_t>{1, 2, 3, 4}))
        << "a destination behind keeps what the other has";
    store_->MarkForwarded("tcp://a:514", 2, both);
    EXPECT_EQ(OutboxSeqs(*store_, "tcp://a:514"), (std::vector<std::int64_t>{3, 4}));

    // A destination new to the store starts with what is still waiting; one
    // no longer forwarded to holds nothing back.
    const std::vector<std::string> moved = {"tls://b:6514"};
    store_->StartForwarding(moved);
    EXPECT_EQ(OutboxSeqs(*store_, "tls://b:6514"), (std::vector<std::int64_t>{3, 4}));
    store_->NoteForwardingError("tls://b:6514", "cannot connect");
    store_->MarkForwarded("tls://b:6514", 4, moved);
    const std::vector<tessera::host::ForwardingState> states = store_->ReadForwarding();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].sent_seq, 4);
    EXPECT_EQ(states[0].waiting, 0);
    EXPECT_EQ(states[0].error, "cannot connect");
    store_->StartForwarding(both);
    EXPECT_TRUE(OutboxSeqs(*store_, "journal").empty());
}

namespace {

// A reader of a PostgreSQL store, as a filtering server would be: it listens
// for the changes the consoles announce.
class ChangeListener {
public:
    explicit ChangeListener(const std::string& url) : connection_(PQconnectdb(url.c_str())) {
        const std::string listen = std::string("LISTEN ") + tessera::host::kPostgresChangesChannel;
        PQclear(PQexec(connection_, listen.c_str()));
    }
    ~ChangeListener() { PQfinish(connection_); }
    ChangeListener(const ChangeListener&) = delete;
    ChangeListener& operator=(const ChangeListener&) = delete;

    // The next announcement, waiting up to `timeout`; empty when none came.
    std::string Next(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            PQconsumeInput(connection_);
            if (PGnotify* notification = PQnotifies(connection_)) {
                std::string payload = notification->extra;
                PQfreemem(notification);
                return payload;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd readable{PQsocket(connection_), POLLIN, 0};
            poll(&readable, 1, static_cast<int>(left.count()));
        }
    }

private:
    PGconn* connection_;
};

}  // namespace

TEST(PostgresStoreTest, EveryCommittedChangeIsAnnouncedAndNoRolledBackOne) {
    const TempFolder folder("tessera-announce");
    const std::string url = PostgresServer::Shared().CreateDatabase();
    const auto store = ConsoleStore::Open(tessera::host::ParseStoreAddress(url, folder.path()), ResourceDir());
    ChangeListener listener(url);
    PropertyBag policy;
    ASSERT_TRUE(store->Load(L"QZ_UrlFilter", L"URL_FILTER", policy));
    policy.Set(L"ActionReplaceAll", _variant_t(L"rolled back"));
    EXPECT_THROW(store->RunAction([&] {
        ASSERT_TRUE(store->Save(L"QZ_UrlFilter", L"URL_FILTER", policy));
        throw std::runtime_error("the action fails after its save");
    }),
                 std::runtime_error);
    PropertyBag file_policy;
    ASSERT_TRUE(store->Load(L"QZ_UrlFilter", L"URL_FILTER_FILE", file_policy));
    const auto save_file_policy = [&] {
        EXPECT_TRUE(
            store->RunAction([&] { ASSERT_TRUE(store->Save(L"QZ_UrlFilter", L"URL_FILTER_FILE", file_policy)); })
                .is_stored);
    };
    file_policy.Set(L"ActionReplaceAll", _variant_t(L"committed"));
    save_file_policy();
    save_file_policy();  // the same text again changes nothing
    EXPECT_EQ(listener.Next(std::chrono::seconds(10)), "QZ_UrlFilter/URL_FILTER_FILE");
    EXPECT_EQ(listener.Next(std::chrono::milliseconds(200)), "") << "nothing else changed";
}
