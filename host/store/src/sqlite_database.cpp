// The store's connections: opened in write-ahead logging with full syncs,
// statements prepared once and kept.
#include "sqlite_database.h"

namespace tessera::host::sqlite {

namespace {

// SQLite's memory statistics, which nothing here reads, put one process-wide
// mutex around each of its allocations: every request's threads would queue
// on it. Takes effect only before SQLite's first use, so before the first open.
void TurnOffMemoryStatistics() {
    [[maybe_unused]] static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

}  // namespace

Database::Database(const std::filesystem::path& file, int busy_timeout_ms) : name_(file.string()) {
    TurnOffMemoryStatistics();
    const int opened =
        sqlite3_open_v2(name_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        const std::string reason = db_ == nullptr ? sqlite3_errstr(opened) : sqlite3_errmsg(db_);
        sqlite3_close_v2(db_);
        throw std::runtime_error("cannot open the store " + name_ + ": " + reason);
    }
    try {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, busy_timeout_ms);
        if (Query(kWalMode) != "wal") {
            throw std::runtime_error("the store " + name_ + " cannot use write-ahead logging");
        }
        Run(kSynchronousFull);
    } catch (...) {
        Close();
        throw;
    }
}

void Database::Run(const char* sql) {
    Statement statement(*this, sql);
    while (statement.Step()) {}
}

std::string Database::Query(const char* sql) {
    Statement statement(*this, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

}  // namespace tessera::host::sqlite
