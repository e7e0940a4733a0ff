// The SQLite engine: a file in write-ahead logging with full syncs, statements
// prepared once and kept.
#pragma once

#include "database.h"

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

namespace tessera::host::sql {

class SqliteDatabase final : public Database {
public:
    SqliteDatabase(const std::filesystem::path& file, int busy_timeout_ms);
    ~SqliteDatabase() override;

    void Close() noexcept override;
    bool IsOpen() const override;
    bool IsInTransaction() const override { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }
    Cursor& Prepared(const char* sql) override;
    int Changes() const override { return sqlite3_changes(db_); }
    // SQLite opens a file it cannot write read-only, and the connection stays so.
    bool IsReadOnly() const override { return sqlite3_db_readonly(db_, "main") == 1; }
    // The immediate begin takes the write lock up front, waiting up to the
    // busy timeout: a deferred one would fail at once when another writer got
    // in between its read and its write.
    void BeginWriting() override;
    void BeginReading() override;
    void Commit() override;
    void RollBack() noexcept override;
    // Changes whenever the file's content changed, by this connection or any
    // other (another process, a hand edit).
    std::optional<std::uint32_t> DataVersion() const override;
    std::vector<std::string> EngineProblems(bool is_thorough) override;
    std::vector<const char*> Schema() const override;
    bool MayNeedUpgrades() const override { return true; }

    [[noreturn]] void Fail() const;

private:
    class SqliteCursor;
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::map<const char*, std::unique_ptr<SqliteCursor>> statements_;
    std::string name_;
};

}  // namespace tessera::host::sql
