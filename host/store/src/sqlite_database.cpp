// The SQLite engine's connections.
#include "sqlite_database.h"
#include "sql_text.h"

namespace tessera::host::sql {

namespace {

// SQLite's memory statistics, which nothing here reads, put one process-wide
// mutex around each of its allocations: every request's threads would queue
// on it. Takes effect only before SQLite's first use, so before the first open.
void TurnOffMemoryStatistics() {
    [[maybe_unused]] static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

Refusal RefusalOf(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Refusal::kBusy;
    case SQLITE_READONLY:
        return Refusal::kReadOnly;
    case SQLITE_FULL:
        return Refusal::kFull;
    case SQLITE_IOERR:
        return Refusal::kInputOutput;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Refusal::kDamaged;
    default:
        return Refusal::kOther;
    }
}

}  // namespace

class SqliteDatabase::SqliteCursor final : public Cursor {
public:
    SqliteCursor(SqliteDatabase& database, sqlite3_stmt* statement) : database_(database), statement_(statement) {}
    ~SqliteCursor() override { sqlite3_finalize(statement_); }
    SqliteCursor(const SqliteCursor&) = delete;
    SqliteCursor& operator=(const SqliteCursor&) = delete;

    void BindText(int index, std::string_view text) override {
        Check(sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    }
    void BindInteger(int index, std::int64_t value) override { Check(sqlite3_bind_int64(statement_, index, value)); }
    void BindNull(int index, ValueType) override { Check(sqlite3_bind_null(statement_, index)); }
    bool Step() override {
        const int stepped = sqlite3_step(statement_);
        if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
            database_.Fail();
        }
        return stepped == SQLITE_ROW;
    }
    std::string_view TextView(int column) const override {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        const auto length = static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
        return text == nullptr ? std::string_view() : std::string_view(text, length);
    }
    std::int64_t Integer(int column) const override { return sqlite3_column_int64(statement_, column); }
    bool IsNull(int column) const override { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    void Reset() noexcept override {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    void Check(int result) const {
        if (result != SQLITE_OK) {
            database_.Fail();
        }
    }

    SqliteDatabase& database_;
    sqlite3_stmt* statement_;
};

SqliteDatabase::SqliteDatabase(const std::filesystem::path& file, int busy_timeout_ms) : name_(file.string()) {
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

SqliteDatabase::~SqliteDatabase() { Close(); }

void SqliteDatabase::Close() noexcept {
    const std::lock_guard lock(mutex_);
    statements_.clear();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDatabase::IsOpen() const {
    const std::lock_guard lock(mutex_);
    return db_ != nullptr;
}

Cursor& SqliteDatabase::Prepared(const char* sql) {
    const auto found = statements_.find(sql);
    if (found != statements_.end()) {
        return *found->second;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        Fail();
    }
    return *statements_.emplace(sql, std::make_unique<SqliteCursor>(*this, statement)).first->second;
}

void SqliteDatabase::Fail() const {
    throw StoreError(RefusalOf(sqlite3_extended_errcode(db_)), name_ + ": " + sqlite3_errmsg(db_));
}

std::vector<const char*> SqliteDatabase::Schema() const { return {std::begin(kSchema), std::end(kSchema)}; }

void SqliteDatabase::BeginWriting() { Run(kBegin); }

void SqliteDatabase::BeginReading() {
    Run(kBeginReading);
    Run(kStartReading);  // a deferred transaction's snapshot starts with its first read
}

void SqliteDatabase::Commit() { Run(kCommit); }

void SqliteDatabase::RollBack() noexcept {
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

std::optional<std::uint32_t> SqliteDatabase::DataVersion() const {
    unsigned int version = 0;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK) {
        Fail();
    }
    return version;
}

std::vector<std::string> SqliteDatabase::EngineProblems(bool is_thorough) {
    std::vector<std::string> problems;
    try {
        Statement check(*this, is_thorough ? kIntegrityCheck : kQuickCheck);
        while (check.Step()) {
            const std::string text = check.Text(0);
            for (std::size_t start = 0; start < text.size();) {
                const std::size_t end = std::min(text.find('\n', start), text.size());
                if (const std::string line = text.substr(start, end - start); line != "ok" && !line.empty()) {
                    problems.push_back(line);
                }
                start = end + 1;
            }
        }
    } catch (const StoreError& error) {
        if (error.Kind() != Refusal::kDamaged) throw;
        problems.emplace_back(error.what());
    }
    return problems;
}

}  // namespace tessera::host::sql
