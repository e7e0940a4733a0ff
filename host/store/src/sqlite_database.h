// A connection to the store's file and the statements run on it.
#pragma once

#include "mgmt_store.h"
#include "os_string.h"
#include "sql_text.h"
#include "sqlite_store.h"
#include "store_errors.h"

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::host::sqlite {

// One open database handle with its prepared statements. Used by one thread;
// only Close may come from another, the one that destroys the store.
class Database {
public:
    Database(const std::filesystem::path& file, int busy_timeout_ms);
    ~Database() { Close(); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Close() noexcept {
        const std::lock_guard lock(mutex_);
        for (auto& [sql, statement] : statements_) {
            sqlite3_finalize(statement);
        }
        statements_.clear();
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    bool IsInTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

    bool IsOpen() const {
        const std::lock_guard lock(mutex_);
        return db_ != nullptr;
    }

    // The statement of `sql`, prepared once; `sql` is one of the constants above,
    // so its address is the cache key.
    sqlite3_stmt* Prepared(const char* sql) {
        const auto found = statements_.find(sql);
        if (found != statements_.end()) {
            return found->second;
        }
        sqlite3_stmt* statement = nullptr;
        const int prepared = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (prepared != SQLITE_OK) {
            Fail();
        }
        statements_.emplace(sql, statement);
        return statement;
    }

    [[noreturn]] void Fail() const {
        throw StoreError(sqlite3_extended_errcode(db_), name_ + ": " + sqlite3_errmsg(db_));
    }

    void Run(const char* sql);
    std::string Query(const char* sql);
    int Changes() const { return sqlite3_changes(db_); }
    // SQLite opens a file it cannot write read-only, and the connection stays so.
    bool IsReadOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
    // Changes whenever the file's content changed, by this connection or any
    // other; read inside a transaction, it names that transaction's snapshot.
    std::uint32_t DataVersion() const {
        unsigned int version = 0;
        if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK) {
            Fail();
        }
        return version;
    }
    std::int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

    // Runs `work` inside one BEGIN IMMEDIATE transaction and commits what it
    // did, or rolls it all back when it throws. The immediate begin takes the
    // write lock up front, waiting up to the busy timeout: a deferred one would
    // fail at once when another writer got in between its read and its write.
    // Inside an action the action's transaction is used, and ends with it.
    template <class Work>
    bool Write(Work&& work) {
        if (action_ != nullptr) {
            return work();
        }
        Run(kBegin);
        try {
            const bool result = work();
            Run(kCommit);
            return result;
        } catch (...) {
            RollBack();
            throw;
        }
    }

    void RollBack() noexcept {
        if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    // The action running on this connection's thread, or null.
    struct Action {
        std::optional<std::string> refusal;   // set once the store refused a write
        std::vector<AuditRecord> audit;       // stored at commit
        std::vector<nlohmann::json> changes;  // of each Save, in order
    };
    Action* CurrentAction() const { return action_; }
    void SetAction(Action* action) { action_ = action; }

    // Ends the action's transaction after a write the store refused.
    void Refuse(const std::exception& error) {
        RollBack();
        if (action_ != nullptr && !action_->refusal) {
            action_->refusal = PlainReason(error);
        }
    }

private:
    Action* action_ = nullptr;
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;
    std::string name_;
};

// A prepared statement in use: bound, stepped, and reset when it goes.
class Statement {
public:
    Statement(Database& database, const char* sql) : database_(database), statement_(database.Prepared(sql)) {}
    ~Statement() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text) {
        Check(sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(statement_, index, value));
        return *this;
    }
    // NULL for a null text.
    Statement& Bind(int index, const std::string* text) {
        if (text == nullptr) return BindNull(index);
        return Bind(index, *text);
    }
    Statement& Bind(int index, const std::wstring* text) {
        if (text == nullptr) return BindNull(index);
        return Bind(index, OS::ToUtf8(*text));
    }
    Statement& BindNull(int index) {
        Check(sqlite3_bind_null(statement_, index));
        return *this;
    }

    // True while there is a row to read.
    bool Step() {
        const int stepped = sqlite3_step(statement_);
        if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
            database_.Fail();
        }
        return stepped == SQLITE_ROW;
    }

    std::string Text(int column) const { return std::string(TextView(column)); }
    // Valid until the statement steps again or is reset.
    std::string_view TextView(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        const auto length = static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
        return text == nullptr ? std::string_view() : std::string_view(text, length);
    }
    std::int64_t Integer(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    void Check(int result) const {
        if (result != SQLITE_OK) {
            database_.Fail();
        }
    }

    Database& database_;
    sqlite3_stmt* statement_;
};

}  // namespace tessera::host::sqlite

namespace tessera::host {

struct SqliteStore::Connection final : sqlite::Database {
    using sqlite::Database::Database;

    // Which decoded form this connection last loaded of each object in a read
    // transaction, with the data version of that transaction's snapshot. While
    // the version stands, nobody changed the file in between (this connection,
    // another process, a hand edit), and the decoded form, if the cache still
    // holds it, is handed out again without reading the row.
    struct Loaded {
        std::uint32_t data_version;
        std::uint64_t generation;  // of the decoded cache's entry
    };
    std::map<std::string, Loaded> loaded;
    std::optional<std::uint32_t> reading_version;  // inside RunReading's own transaction
    std::optional<std::string> read_failure;       // why a load inside RunReading failed, first reason only
};

}  // namespace tessera::host
