// The console's management store: SQLite in WAL mode, one connection per thread
// and store, every write one BEGIN IMMEDIATE transaction, so that a crash or a
// concurrent writer never leaves half an object stored and a commit that
// returned is never lost.
#include "sqlite_store.h"
#include "change_journal.h"
#include "debug_log.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "store_internal.h"
#include "store_json.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::host {

namespace {

constexpr int kDefaultBusyTimeoutMs = 5000;
constexpr int kMaxBusyTimeoutMs = 10 * 60 * 1000;
constexpr const char* kBusyTimeoutVariable = "TESSERA_STORE_BUSY_MS";
constexpr const char* kLogSource = "sqlite_store";
constexpr unsigned int kFailureLevel = 4099;

constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS class_declarations ("
    " class TEXT PRIMARY KEY NOT NULL, declaration TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS instances ("
    " class TEXT NOT NULL, instance TEXT NOT NULL, properties TEXT NOT NULL, PRIMARY KEY (class, instance))",
    "CREATE TABLE IF NOT EXISTS audit ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, user TEXT NOT NULL, client_address TEXT NOT NULL,"
    " page_id TEXT NOT NULL, event_type INTEGER NOT NULL, source_type INTEGER NOT NULL, message TEXT NOT NULL)",
    // What the console ran for an audit record and, on the last record of an
    // action, what it changed: a short summary for History to show, and the
    // whole change, which a restore undoes. rolled_back says why the change a
    // record reports was never stored.
    "CREATE TABLE IF NOT EXISTS actions ("
    " audit_seq INTEGER PRIMARY KEY, action TEXT NOT NULL, summary TEXT, changes TEXT, rolled_back TEXT)",
};
// Stores made before rolled-back changes were noted get the column on first open.
constexpr const char* kHasRolledBackColumn =
    "SELECT count(*) FROM pragma_table_info('actions') WHERE name = 'rolled_back'";
constexpr const char* kAddRolledBackColumn = "ALTER TABLE actions ADD COLUMN rolled_back TEXT";
constexpr const char* kBegin = "BEGIN IMMEDIATE";
constexpr const char* kBeginReading = "BEGIN DEFERRED";
// Any statement that reads starts the snapshot of a deferred transaction.
constexpr const char* kStartReading = "PRAGMA data_version";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kQuickCheck = "PRAGMA quick_check";
constexpr const char* kIntegrityCheck = "PRAGMA integrity_check";
constexpr const char* kHasEveryTable =
    "SELECT count(*) = 2 FROM sqlite_master WHERE type = 'table' AND name IN ('class_declarations', 'actions')";
constexpr const char* kWalMode = "PRAGMA journal_mode=WAL";
constexpr const char* kSynchronousFull = "PRAGMA synchronous=FULL";
constexpr const char* kCountDeclarations = "SELECT count(*) FROM class_declarations";
constexpr const char* kInsertDeclaration = "INSERT INTO class_declarations (class, declaration) VALUES (?1, ?2)";
constexpr const char* kSelectDeclarations = "SELECT class, declaration FROM class_declarations ORDER BY rowid";
constexpr const char* kSelectInstance = "SELECT properties FROM instances WHERE class = ?1 AND instance = ?2";
constexpr const char* kUpdateInstance = "UPDATE instances SET properties = ?3 WHERE class = ?1 AND instance = ?2";
constexpr const char* kReplaceInstance =
    "INSERT OR REPLACE INTO instances (class, instance, properties) VALUES (?1, ?2, ?3)";
constexpr const char* kDeleteInstance = "DELETE FROM instances WHERE class = ?1 AND instance = ?2";
constexpr const char* kListInstances =
    "SELECT class, instance, properties FROM instances"
    " WHERE (?1 IS NULL OR class = ?1) AND (?2 IS NULL OR instance = ?2) ORDER BY class, instance";
constexpr const char* kInsertAudit =
    "INSERT INTO audit (time, user, client_address, page_id, event_type, source_type, message)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
constexpr const char* kInsertAction = "INSERT INTO actions (audit_seq, action, rolled_back) VALUES (?1, ?2, ?3)";
constexpr const char* kRecordChanges =
    "INSERT INTO actions (audit_seq, action, summary, changes) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (audit_seq) DO UPDATE SET summary = ?3, changes = ?4";
constexpr const char* kPendingAuditSuffix = ".pending-audit";
constexpr const char* kSelectAudit =
    "SELECT seq, time, user, client_address, page_id, event_type, source_type, message FROM audit ORDER BY seq";
// Newest first. Times are ISO-8601 text, so a prefix such as "2026-12" bounds
// by month: ?3 holds records up to the end of what it names.
constexpr const char* kSelectHistory =
    "SELECT seq, time, user, client_address, page_id, event_type, source_type, message,"
    " coalesce(action, ''), coalesce(summary, ''), coalesce(rolled_back, '')"
    " FROM audit LEFT JOIN actions ON audit_seq = seq"
    " WHERE (?1 IS NULL OR action = ?1) AND (?2 IS NULL OR time >= ?2)"
    " AND (?3 IS NULL OR substr(time, 1, length(?3)) <= ?3) AND (?5 IS NULL OR seq = ?5) AND (?6 IS NULL OR seq < ?6)"
    " ORDER BY seq DESC LIMIT ?4";
constexpr const char* kSelectChangesSince =
    "SELECT audit_seq, changes FROM actions WHERE audit_seq >= ?1 AND changes IS NOT NULL ORDER BY audit_seq DESC";
// Summaries keep this many entries of each list's additions and removals.
constexpr std::size_t kSummarySample = 20;

void LogFailure(int line, const std::string& what) {
    DBG::DebugLogEx(nullptr, kFailureLevel, kLogSource, line, "%s", what.c_str());
}

// A statement SQLite refused, with its result code.
class StoreError : public std::runtime_error {
public:
    StoreError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

// Why a write was refused, in words an administrator can act on.
std::string PlainReason(const std::exception& error) {
    if (dynamic_cast<const StoreFormatError*>(&error) != nullptr) {
        return std::string("a stored object cannot be decoded, the store is damaged (") + error.what() +
               "; tessera-console store check lists what is damaged)";
    }
    const auto* store_error = dynamic_cast<const StoreError*>(&error);
    switch (store_error == nullptr ? SQLITE_ERROR : store_error->Code() & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another program kept the store locked for longer than the console waits";
    case SQLITE_READONLY:
        return "the store cannot be written: its file or folder is read-only";
    case SQLITE_FULL:
        return "the disk that holds the store is full";
    case SQLITE_IOERR:
        return "the disk that holds the store reported an input/output error";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "the store file is damaged (tessera-console store check lists what is damaged)";
    default:
        return std::string("the store refused the change (") + error.what() + ")";
    }
}

int BusyTimeoutFromEnvironment() {
    const char* text = std::getenv(kBusyTimeoutVariable);
    if (text == nullptr) {
        return kDefaultBusyTimeoutMs;
    }
    const std::string_view digits(text);
    int milliseconds = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || milliseconds < 0 ||
        milliseconds > kMaxBusyTimeoutMs) {
        throw std::runtime_error(std::string(kBusyTimeoutVariable) + " must be a whole number of milliseconds" +
                                 " from 0 to " + std::to_string(kMaxBusyTimeoutMs) + ", not \"" +
                                 std::string(digits.substr(0, 32)) + "\"");
    }
    return milliseconds;
}

// SQLite's memory statistics, which nothing here reads, put one process-wide
// mutex around each of its allocations: every request's threads would queue
// on it. Takes effect only before SQLite's first use, so before the first open.
void TurnOffMemoryStatistics() {
    [[maybe_unused]] static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

// One open database handle with its prepared statements. Used by one thread;
// only Close may come from another, the one that destroys the store.
class Database {
public:
    Database(const std::filesystem::path& file, int busy_timeout_ms) : name_(file.string()) {
        TurnOffMemoryStatistics();
        const int opened = sqlite3_open_v2(name_.c_str(), &db_,
                                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
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

void Database::Run(const char* sql) {
    Statement statement(*this, sql);
    while (statement.Step()) {}
}

std::string Database::Query(const char* sql) {
    Statement statement(*this, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

// Every connection of a store, so that its destructor can close those of other
// threads. Never destroyed: a store may be destroyed during exit.
struct ConnectionRegistry {
    std::mutex mutex;
    std::map<std::uint64_t, std::vector<std::weak_ptr<Database>>> by_store;
};

ConnectionRegistry& Registry() {
    static auto* registry = new ConnectionRegistry;
    return *registry;
}

// This thread's connections by store id; closed when the thread ends.
thread_local std::map<std::uint64_t, std::shared_ptr<Database>> t_connections;

std::atomic<std::uint64_t> g_next_store_id{1};

nlohmann::ordered_json ReadJsonFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        return nlohmann::ordered_json::parse(text.str());
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(file.string() + ": " + error.what());
    }
}

std::string PlaceOf(const std::wstring& class_name, const std::wstring& instance_name) {
    return OS::ToUtf8(class_name) + "/" + OS::ToUtf8(instance_name);
}

// Stored properties as decoded from their JSON, with the class declaration attached.
PropertyBag DecodedProperties(const nlohmann::ordered_json& json, const std::string& place,
                              std::shared_ptr<const ClassDeclaration> declaration) {
    PropertyBag properties = detail::PropertiesFromJson(json, place);
    properties.Declare(std::move(declaration));
    return properties;
}

// The stored properties of one row.
PropertyBag PropertiesFromRow(std::string_view text, const std::string& place,
                              std::shared_ptr<const ClassDeclaration> declaration) {
    nlohmann::ordered_json json;
    try {
        json = nlohmann::ordered_json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw StoreFormatError(place + ": " + error.what());
    }
    return DecodedProperties(json, place, std::move(declaration));
}

// Creates the tables and, when no class is declared yet, fills them from the
// provisioning files, all in one transaction: of two processes starting at
// once, the second waits and then finds the work done.
void Provision(Database& database, const std::filesystem::path& resource_dir) {
    database.Write([&] {
        for (const char* sql : kSchema) {
            database.Run(sql);
        }
        if (database.Query(kCountDeclarations) != "0") {
            return true;
        }
        const std::filesystem::path classes_file = resource_dir / "classes.json";
        const std::filesystem::path provision_file = resource_dir / "provision.json";
        const nlohmann::ordered_json classes = ReadJsonFile(classes_file);
        std::vector<StoredInstance> instances;
        try {
            detail::DeclarationsFromJson(classes);  // checked here; the store keeps the text of each class
        } catch (const StoreFormatError& error) {
            throw std::runtime_error(classes_file.string() + ": " + error.what());
        }
        try {
            instances = detail::InstancesFromJson(ReadJsonFile(provision_file));
        } catch (const StoreFormatError& error) {
            throw std::runtime_error(provision_file.string() + ": " + error.what());
        }
        for (const auto& item : classes.items()) {
            Statement(database, kInsertDeclaration).Bind(1, item.key()).Bind(2, item.value().dump()).Step();
        }
        for (const StoredInstance& instance : instances) {
            Statement(database, kReplaceInstance)
                .Bind(1, OS::ToUtf8(instance.class_name))
                .Bind(2, OS::ToUtf8(instance.instance_name))
                .Bind(3, PropertiesToJson(instance.properties).dump())
                .Step();
        }
        return true;
    });
}

bool IsProvisioned(Database& database) {
    return database.Query(kHasEveryTable) == "1" && database.Query(kCountDeclarations) != "0";
}

// Stores the record and the action it belongs to; returns its seq.
std::int64_t InsertAudit(Database& database, const AuditRecord& record) {
    Statement(database, kInsertAudit)
        .Bind(1, record.time.empty() ? detail::CurrentUtcTime() : record.time)
        .Bind(2, OS::ToUtf8(record.context[0]))
        .Bind(3, OS::ToUtf8(record.context[1]))
        .Bind(4, OS::ToUtf8(record.context[2]))
        .Bind(5, std::int64_t{record.event_type})
        .Bind(6, std::int64_t{record.source_type})
        .Bind(7, OS::ToUtf8(record.message))
        .Step();
    const std::int64_t seq = database.LastInsertId();
    if (!record.action.empty() || !record.rolled_back.empty()) {
        Statement insert(database, kInsertAction);
        insert.Bind(1, seq).Bind(2, record.action);
        if (record.rolled_back.empty()) {
            insert.BindNull(3);
        } else {
            insert.Bind(3, record.rolled_back);
        }
        insert.Step();
    }
    return seq;
}

// The action's changes, on its last audit record.
void RecordChanges(Database& database, std::int64_t seq, const std::string& action,
                   const std::vector<nlohmann::json>& changes, std::string& summary_text) {
    nlohmann::json summary = nlohmann::json::array();
    for (const nlohmann::json& change : changes) summary.push_back(SummarizeChange(change, kSummarySample));
    summary_text = summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    Statement(database, kRecordChanges)
        .Bind(1, seq)
        .Bind(2, action)
        .Bind(3, summary_text)
        .Bind(4, nlohmann::json(changes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
        .Step();
}

AuditRecord AuditFromRow(const Statement& select) {
    AuditRecord record;
    record.seq = select.Integer(0);
    record.time = select.Text(1);
    for (int index = 0; index < 3; ++index) {
        record.context[index] = OS::FromUtf8(select.Text(2 + index));
    }
    record.event_type = static_cast<int>(select.Integer(5));
    record.source_type = static_cast<int>(select.Integer(6));
    record.message = OS::FromUtf8(select.Text(7));
    return record;
}

nlohmann::json AuditToJson(const AuditRecord& record) {
    return {{"time", record.time},
            {"user", OS::ToUtf8(record.context[0])},
            {"client_address", OS::ToUtf8(record.context[1])},
            {"page_id", OS::ToUtf8(record.context[2])},
            {"event_type", record.event_type},
            {"source_type", record.source_type},
            {"message", OS::ToUtf8(record.message)},
            {"action", record.action},
            {"rolled_back", record.rolled_back}};
}

AuditRecord AuditFromJson(const nlohmann::json& json) {
    AuditRecord record;
    record.time = json.at("time").get<std::string>();
    record.context[0] = OS::FromUtf8(json.at("user").get<std::string>());
    record.context[1] = OS::FromUtf8(json.at("client_address").get<std::string>());
    record.context[2] = OS::FromUtf8(json.at("page_id").get<std::string>());
    record.event_type = json.at("event_type").get<int>();
    record.source_type = json.at("source_type").get<int>();
    record.message = OS::FromUtf8(json.at("message").get<std::string>());
    record.action = json.value("action", "");
    record.rolled_back = json.value("rolled_back", "");
    return record;
}

// An exclusive flock on an open file, for as long as it lives.
class FileLock {
public:
    explicit FileLock(int descriptor) : descriptor_(descriptor) {
        while (::flock(descriptor_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~FileLock() { ::flock(descriptor_, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int descriptor_;
};

Declarations ReadDeclarations(Database& database) {
    nlohmann::ordered_json classes = nlohmann::ordered_json::object();
    Statement select(database, kSelectDeclarations);
    while (select.Step()) {
        try {
            classes[select.Text(0)] = nlohmann::ordered_json::parse(select.Text(1));
        } catch (const nlohmann::json::exception& error) {
            throw StoreFormatError(select.Text(0) + ": " + error.what());
        }
    }
    return detail::DeclarationsFromJson(classes);
}

}  // namespace

struct SqliteStore::Connection final : Database {
    using Database::Database;

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

// Audit records the store could not take, in order. Records are only ever
// appended to the file, and only a holder of the store's write lock takes them
// off its front, so no record is written twice by two processes. When the
// file itself cannot take a record (a full disk), the record waits in memory.
class SqliteStore::PendingAudit {
public:
    explicit PendingAudit(std::filesystem::path file) : file_(std::move(file)) {}

    void Keep(const std::vector<AuditRecord>& records) {
        if (records.empty()) {
            return;
        }
        std::string lines;
        for (const AuditRecord& record : records) {
            lines += AuditToJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
        }
        const std::lock_guard lock(mutex_);
        if (!AppendToFile(lines)) {
            in_memory_.insert(in_memory_.end(), records.begin(), records.end());
        }
    }

    struct Taken {
        std::vector<AuditRecord> records;
        std::size_t file_lines = 0;  // of `records`, how many came from the file
    };
    // The kept records, oldest file records first.
    Taken Peek() {
        const std::lock_guard lock(mutex_);
        Taken taken;
        for (const std::string& line : ReadLines()) {
            try {
                taken.records.push_back(AuditFromJson(nlohmann::json::parse(line)));
            } catch (const nlohmann::json::exception& error) {
                LogFailure(__LINE__,
                           file_.string() + ": a kept audit record is unreadable and is dropped: " + error.what());
            }
            ++taken.file_lines;
        }
        taken.records.insert(taken.records.end(), in_memory_.begin(), in_memory_.end());
        return taken;
    }

    // Forgets what `taken` held, once it is stored.
    void Drop(const Taken& taken) {
        const std::lock_guard lock(mutex_);
        const std::size_t from_memory = taken.records.size() - std::min(taken.records.size(), taken.file_lines);
        in_memory_.erase(in_memory_.begin(),
                         in_memory_.begin() + static_cast<std::ptrdiff_t>(std::min(from_memory, in_memory_.size())));
        if (taken.file_lines == 0) {
            return;
        }
        const int descriptor = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
        if (descriptor < 0) {
            return;
        }
        {
            const FileLock lock_file(descriptor);
            std::vector<std::string> lines = ReadLines(descriptor);
            std::string rest;
            for (std::size_t index = std::min(taken.file_lines, lines.size()); index < lines.size(); ++index) {
                rest += lines[index] + '\n';
            }
            if (::ftruncate(descriptor, 0) != 0 || !WriteAll(descriptor, rest, 0)) {
                LogFailure(__LINE__, "cannot rewrite " + file_.string() + ": stored audit records may be kept twice");
            }
        }
        ::close(descriptor);
    }

private:
    static bool WriteAll(int descriptor, const std::string& text, off_t offset) {
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t result = ::pwrite(descriptor, text.data() + written, text.size() - written,
                                            offset + static_cast<off_t>(written));
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result <= 0) {
                return false;
            }
            written += static_cast<std::size_t>(result);
        }
        return ::fsync(descriptor) == 0;
    }

    bool AppendToFile(const std::string& lines) {
        const int descriptor = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (descriptor < 0) {
            return false;
        }
        bool is_kept = false;
        {
            const FileLock lock_file(descriptor);
            struct stat status {};
            if (::fstat(descriptor, &status) == 0) {
                is_kept = WriteAll(descriptor, lines, status.st_size);
                if (!is_kept && ::ftruncate(descriptor, status.st_size) != 0) {
                    LogFailure(__LINE__, "cannot cut a torn record off " + file_.string());
                }
            }
        }
        ::close(descriptor);
        return is_kept;
    }

    std::vector<std::string> ReadLines() const {
        const int descriptor = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return {};
        }
        std::vector<std::string> lines;
        {
            const FileLock lock_file(descriptor);
            lines = ReadLines(descriptor);
        }
        ::close(descriptor);
        return lines;
    }

    static std::vector<std::string> ReadLines(int descriptor) {
        std::string text;
        char buffer[8192];
        off_t offset = 0;
        for (;;) {
            const ssize_t result = ::pread(descriptor, buffer, sizeof buffer, offset);
            if (result < 0 && errno == EINTR) {
                continue;
            }
            if (result <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(result));
            offset += result;
        }
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    std::mutex mutex_;
    std::filesystem::path file_;
    std::vector<AuditRecord> in_memory_;
};

SqliteStore::SqliteStore(std::filesystem::path file, int busy_timeout_ms)
    : file_(std::move(file)),
      pending_audit_(std::make_shared<PendingAudit>(file_.string() + kPendingAuditSuffix)),
      decoded_cache_(std::make_shared<DecodedCache>()),
      busy_timeout_ms_(busy_timeout_ms),
      store_id_(g_next_store_id++) {}

std::shared_ptr<SqliteStore> SqliteStore::Open(const std::filesystem::path& database_file,
                                               const std::filesystem::path& resource_dir) {
    std::shared_ptr<SqliteStore> store(new SqliteStore(database_file, BusyTimeoutFromEnvironment()));
    // Of several processes opening a fresh file at once, SQLite may report one
    // as busy without waiting (while another switches the file to write-ahead
    // logging): that one starts over, until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(store->busy_timeout_ms_);
    try {
        for (;;) {
            try {
                Connection& connection = store->ThreadConnection();
                if (!IsProvisioned(connection)) {
                    Provision(connection, resource_dir);
                }
                if (connection.Query(kHasRolledBackColumn) == "0") {
                    connection.Write([&] {
                        if (connection.Query(kHasRolledBackColumn) == "0") connection.Run(kAddRolledBackColumn);
                        return true;
                    });
                }
                store->declarations_ = ReadDeclarations(connection);
                break;
            } catch (const StoreError& error) {
                if ((error.Code() & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    } catch (const StoreFormatError& error) {
        throw std::runtime_error(database_file.string() +
                                 ": the stored class declarations are unreadable: " + error.what());
    }
    if (!store->pending_audit_->Peek().records.empty()) {
        store->RunAction([] {});  // a store that still refuses keeps them for later
    }
    return store;
}

SqliteStore::~SqliteStore() {
    std::vector<std::weak_ptr<Database>> connections;
    {
        ConnectionRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        auto node = registry.by_store.extract(store_id_);
        if (!node.empty()) {
            connections = std::move(node.mapped());
        }
    }
    for (const std::weak_ptr<Database>& weak : connections) {
        if (const std::shared_ptr<Database> connection = weak.lock()) {
            connection->Close();
        }
    }
}

SqliteStore::Connection& SqliteStore::ThreadConnection() {
    // Connections of stores destroyed since are closed already; let them go.
    for (auto entry = t_connections.begin(); entry != t_connections.end();) {
        entry = entry->second->IsOpen() ? std::next(entry) : t_connections.erase(entry);
    }
    const auto found = t_connections.find(store_id_);
    if (found != t_connections.end()) {
        return static_cast<Connection&>(*found->second);
    }
    auto connection = std::make_shared<Connection>(file_, busy_timeout_ms_);
    {
        ConnectionRegistry& registry = Registry();
        const std::lock_guard lock(registry.mutex);
        std::vector<std::weak_ptr<Database>>& connections = registry.by_store[store_id_];
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const std::weak_ptr<Database>& weak) { return weak.expired(); }),
                          connections.end());
        connections.push_back(connection);
    }
    t_connections.emplace(store_id_, connection);
    return *connection;
}

// The last decoded form of each stored object, with the text it was decoded
// from, shared by all connections: a connection that reads a row it has not
// seen in this snapshot compares the text (35 MB for a list of a million
// entries) instead of parsing it, which holds whoever changed the row. Entries
// are kept before their transaction commits, so only the text or a snapshot
// seen before says that an entry is what the store holds. Copies of a decoded
// object share its arrays, so handing one out copies no list.
class SqliteStore::DecodedCache {
public:
    // The generation of the entry decoded from `text`, or 0.
    std::uint64_t Find(const std::string& place, std::string_view text, PropertyBag& out) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(place);
        if (found == entries_.end() || found->second.text != text) {
            return 0;
        }
        out = found->second.properties;
        return found->second.generation;
    }

    // False when the entry of that generation was replaced since.
    bool FindGeneration(const std::string& place, std::uint64_t generation, PropertyBag& out) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(place);
        if (found == entries_.end() || found->second.generation != generation) {
            return false;
        }
        out = found->second.properties;
        return true;
    }

    std::uint64_t Keep(const std::string& place, std::string text, PropertyBag properties) {
        Entry entry{std::move(text), std::move(properties), 0};
        const std::lock_guard lock(mutex_);
        entry.generation = ++last_generation_;
        entries_[place] = std::move(entry);
        return last_generation_;
    }

private:
    struct Entry {
        std::string text;
        PropertyBag properties;
        std::uint64_t generation;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    std::uint64_t last_generation_ = 0;
};

bool SqliteStore::Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) {
    const std::string place = PlaceOf(class_name, instance_name);
    Connection* reading = nullptr;
    try {
        Connection& connection = ThreadConnection();
        reading = &connection;
        const std::optional<std::uint32_t> version = connection.reading_version;
        if (version) {
            const auto seen = connection.loaded.find(place);
            if (seen != connection.loaded.end() && seen->second.data_version == *version &&
                decoded_cache_->FindGeneration(place, seen->second.generation, out)) {
                return true;
            }
        }
        Statement select(connection, kSelectInstance);
        if (!select.Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step()) {
            return false;
        }
        const std::string_view text = select.TextView(0);
        std::uint64_t generation = decoded_cache_->Find(place, text, out);
        if (generation == 0) {
            out = PropertiesFromRow(text, place, DeclarationOf(declarations_, class_name));
            generation = decoded_cache_->Keep(place, std::string(text), out);
        }
        if (version) {
            connection.loaded[place] = Connection::Loaded{*version, generation};
        }
        return true;
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, "Cannot load " + place + ": " + error.what());
        // An object that is there but cannot be read is no empty object: the
        // action that needed it is refused, the page that shows it says so.
        if (reading != nullptr && reading->CurrentAction() != nullptr) {
            reading->Refuse(error);
        } else if (reading != nullptr && !reading->read_failure) {
            reading->read_failure = PlainReason(error);
        }
        return false;
    }
}

bool SqliteStore::Save(const std::wstring& class_name, const std::wstring& instance_name,
                       const PropertyBag& properties) {
    const std::string place = PlaceOf(class_name, instance_name);
    Database* database = nullptr;
    try {
        database = &ThreadConnection();
        Database::Action* action = database->CurrentAction();
        if (action != nullptr && action->refusal) {
            LogFailure(__LINE__, "Cannot save " + place + ": " + *action->refusal);
            return false;
        }
        std::string text;
        // What a load of the stored text decodes, made from the JSON at hand:
        // the page that follows a save finds it in the decoded cache instead of
        // parsing the text again (35 MB for a list of a million entries).
        std::optional<PropertyBag> decoded;
        {
            const nlohmann::ordered_json json = PropertiesToJson(properties);
            text = json.dump();
            try {
                decoded = DecodedProperties(json, place, DeclarationOf(declarations_, class_name));
            } catch (const StoreFormatError&) {
                // A load will say what is wrong with it; the save goes on.
            }
        }
        // An action's changes are journaled: what the object held before is
        // read inside the action's transaction, from the decoded cache.
        PropertyBag before;
        if (action != nullptr && !Load(class_name, instance_name, before)) return false;
        const bool is_stored = database->Write([&] {
            Statement(*database, kUpdateInstance)
                .Bind(1, OS::ToUtf8(class_name))
                .Bind(2, OS::ToUtf8(instance_name))
                .Bind(3, text)
                .Step();
            return database->Changes() == 1;
        });
        if (is_stored && action != nullptr) {
            nlohmann::json change = DescribeChange(class_name, instance_name, before, properties);
            if (!change.is_null()) action->changes.push_back(std::move(change));
        }
        // Kept with its text: should the action be rolled back, the stored text
        // differs and the next load decodes that instead.
        if (is_stored && decoded) decoded_cache_->Keep(place, std::move(text), std::move(*decoded));
        return is_stored;
    } catch (const StoreError& error) {
        database->Refuse(error);
        LogFailure(__LINE__, "Cannot save " + place + ": " + error.what());
        return false;
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, "Cannot save " + place + ": " + error.what());
        return false;
    }
}

bool SqliteStore::AppendAudit(AuditRecord record) {
    try {
        Database& database = ThreadConnection();
        if (Database::Action* action = database.CurrentAction()) {
            action->audit.push_back(std::move(record));
            return true;
        }
        return database.Write([&] {
            InsertAudit(database, record);
            return true;
        });
    } catch (const std::runtime_error& error) {
        LogFailure(__LINE__, std::string("Cannot append an audit record; it is kept aside: ") + error.what());
        pending_audit_->Keep({record});
        return false;
    }
}

std::optional<std::string> SqliteStore::RunReading(const std::function<void()>& reading) {
    Connection& database = ThreadConnection();
    if (database.CurrentAction() != nullptr || database.IsInTransaction()) {
        reading();  // already inside a transaction, which it shares
        return std::nullopt;
    }
    database.read_failure.reset();
    try {
        database.Run(kBeginReading);
        database.Run(kStartReading);
        database.reading_version = database.DataVersion();
    } catch (const std::runtime_error& error) {
        database.RollBack();
        LogFailure(__LINE__, std::string("Cannot begin a read transaction; each read is its own: ") + error.what());
        reading();
        return std::exchange(database.read_failure, std::nullopt);
    }
    try {
        reading();
    } catch (...) {
        database.reading_version.reset();
        database.read_failure.reset();
        database.RollBack();
        throw;
    }
    database.reading_version.reset();
    try {
        database.Run(kCommit);
    } catch (const std::runtime_error&) {
        database.RollBack();  // a transaction that only read has nothing to lose
    }
    return std::exchange(database.read_failure, std::nullopt);
}

ActionOutcome SqliteStore::RunAction(const std::function<void()>& action, const std::string& action_name,
                                     ActionEffect effect) {
    if (ThreadConnection().IsReadOnly()) {
        ThreadConnection().Close();  // the file may be writable again; the next connection finds out
    }
    Database& database = ThreadConnection();
    Database::Action state;
    PendingAudit::Taken pending;
    try {
        database.Run(kBegin);
        pending = pending_audit_->Peek();
    } catch (const std::runtime_error& error) {
        state.refusal = PlainReason(error);
    }
    const auto keep_rolled_back = [&](const std::string& reason) {
        for (AuditRecord& record : state.audit) {
            if (record.action.empty()) record.action = action_name;
            if (effect == ActionEffect::kChangesStore) record.rolled_back = reason;
        }
        pending_audit_->Keep(state.audit);
    };
    database.SetAction(&state);
    try {
        action();
    } catch (const AbandonedAction& abandoned) {
        database.SetAction(nullptr);
        database.RollBack();
        LogFailure(__LINE__,
                   std::string("An action was abandoned, and its audit records with it: ") + abandoned.what());
        return {false, abandoned.what(), 0, {}};
    } catch (const std::exception& error) {
        database.SetAction(nullptr);
        database.RollBack();
        keep_rolled_back(std::string("the action failed (") + error.what() + ")");
        throw;
    } catch (...) {
        database.SetAction(nullptr);
        database.RollBack();
        keep_rolled_back("the action failed");
        throw;
    }
    database.SetAction(nullptr);
    for (AuditRecord& record : state.audit) {
        if (record.action.empty()) record.action = action_name;
    }
    ActionOutcome outcome;
    if (!state.refusal) {
        try {
            for (const AuditRecord& record : pending.records) {
                InsertAudit(database, record);
            }
            for (const AuditRecord& record : state.audit) {
                outcome.audit_seq = InsertAudit(database, record);
            }
            if (!state.changes.empty()) {
                if (outcome.audit_seq == 0) {
                    LogFailure(__LINE__, "An action without an audit record changed the store; History cannot show it");
                } else {
                    RecordChanges(database, outcome.audit_seq, action_name, state.changes, outcome.changes_summary);
                }
            }
            database.Run(kCommit);
            pending_audit_->Drop(pending);
        } catch (const std::runtime_error& error) {
            database.RollBack();
            state.refusal = PlainReason(error);
        }
    }
    if (state.refusal) {
        LogFailure(__LINE__, "A change was not stored, and its audit records are kept aside: " + *state.refusal);
        keep_rolled_back(*state.refusal);
        // Whatever refused (a file replaced, a disk remounted), the next
        // action meets the store afresh.
        database.Close();
        return {false, *state.refusal, 0, {}};
    }
    return outcome;
}

std::vector<std::string> SqliteStore::CheckIntegrity(bool is_thorough) {
    std::vector<std::string> problems;
    try {
        Statement check(ThreadConnection(), is_thorough ? kIntegrityCheck : kQuickCheck);
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
        if (is_thorough && problems.empty()) {
            // Damage inside a stored text is no damage to SQLite's pages.
            Statement select(ThreadConnection(), kListInstances);
            select.Bind(1, static_cast<const std::wstring*>(nullptr))
                .Bind(2, static_cast<const std::wstring*>(nullptr));
            while (select.Step()) {
                const std::wstring class_name = OS::FromUtf8(select.Text(0));
                const std::string place = PlaceOf(class_name, OS::FromUtf8(select.Text(1)));
                try {
                    PropertiesFromRow(select.TextView(2), place, DeclarationOf(declarations_, class_name));
                } catch (const StoreFormatError& error) {
                    problems.emplace_back(error.what());
                }
            }
        }
    } catch (const StoreError& error) {
        const int code = error.Code() & 0xff;
        if (code != SQLITE_CORRUPT && code != SQLITE_NOTADB) {
            throw std::runtime_error(file_.string() + ": the store cannot be checked: " + error.what());
        }
        problems.emplace_back(error.what());
    }
    return problems;
}

std::vector<AuditRecord> SqliteStore::ReadAudit() {
    std::vector<AuditRecord> records;
    Statement select(ThreadConnection(), kSelectAudit);
    while (select.Step()) {
        records.push_back(AuditFromRow(select));
    }
    for (AuditRecord& record : pending_audit_->Peek().records) {
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<HistoryRecord> SqliteStore::ReadHistory(const HistoryQuery& query) {
    const auto matches = [&query](const AuditRecord& record) {
        return (query.action.empty() || record.action == query.action) &&
               (query.since.empty() || record.time >= query.since) &&
               (query.until.empty() || record.time.compare(0, query.until.size(), query.until) <= 0);
    };
    std::vector<HistoryRecord> records;
    if (query.seq == 0 && query.before_seq == 0) {
        std::vector<AuditRecord> pending = pending_audit_->Peek().records;
        for (auto record = pending.rbegin(); record != pending.rend(); ++record) {
            if (matches(*record) && (query.limit == 0 || records.size() < query.limit)) {
                records.push_back({std::move(*record), {}});
            }
        }
    }
    if (query.limit != 0 && records.size() >= query.limit) return records;
    const std::wstring action = OS::FromUtf8(query.action);
    const std::wstring since = OS::FromUtf8(query.since);
    const std::wstring until = OS::FromUtf8(query.until);
    Statement select(ThreadConnection(), kSelectHistory);
    select.Bind(1, query.action.empty() ? nullptr : &action)
        .Bind(2, query.since.empty() ? nullptr : &since)
        .Bind(3, query.until.empty() ? nullptr : &until)
        .Bind(4, query.limit == 0 ? std::int64_t{-1} : static_cast<std::int64_t>(query.limit - records.size()));
    const std::wstring* none = nullptr;
    for (const auto& [index, seq] : {std::pair{5, query.seq}, std::pair{6, query.before_seq}}) {
        if (seq == 0) {
            select.Bind(index, none);
        } else {
            select.Bind(index, seq);
        }
    }
    while (select.Step()) {
        HistoryRecord entry{AuditFromRow(select), select.Text(9)};
        entry.record.action = select.Text(8);
        entry.record.rolled_back = select.Text(10);
        records.push_back(std::move(entry));
    }
    return records;
}

std::vector<StoredInstance> SqliteStore::StateBefore(std::int64_t seq) {
    struct Rebuilt {
        std::wstring class_name;
        std::wstring instance_name;
        PropertyBag properties;
        std::string fingerprint;  // what the properties must hold now
    };
    std::map<std::string, Rebuilt> objects;
    bool has_change_at_seq = false;
    Statement select(ThreadConnection(), kSelectChangesSince);
    select.Bind(1, seq);
    while (select.Step()) {
        const std::int64_t change_seq = select.Integer(0);
        has_change_at_seq = has_change_at_seq || change_seq == seq;
        nlohmann::json changes;
        try {
            changes = nlohmann::json::parse(select.TextView(1));
        } catch (const nlohmann::json::exception& error) {
            throw std::runtime_error("the changes of record " + std::to_string(change_seq) +
                                     " are unreadable: " + error.what());
        }
        for (const nlohmann::json& change : changes) {
            const std::string place =
                change.at("class").get<std::string>() + "/" + change.at("instance").get<std::string>();
            auto found = objects.find(place);
            if (found == objects.end()) {
                Rebuilt object{OS::FromUtf8(change.at("class")), OS::FromUtf8(change.at("instance")), {}, {}};
                if (!Load(object.class_name, object.instance_name, object.properties)) {
                    throw std::runtime_error(place + " cannot be read");
                }
                object.fingerprint = ValuesFingerprint(object.properties);
                found = objects.emplace(place, std::move(object)).first;
            }
            Rebuilt& object = found->second;
            // A change made outside the console (store load, another tool) breaks the chain.
            if (object.fingerprint != change.at("after")) {
                throw std::runtime_error(place + " was changed outside the console after record " +
                                         std::to_string(change_seq) + ", so its earlier states are not known");
            }
            UndoChange(change, object.properties);
            object.fingerprint = change.at("before");
        }
    }
    if (!has_change_at_seq) throw std::runtime_error("record " + std::to_string(seq) + " changed nothing");
    std::vector<StoredInstance> instances;
    for (auto& [place, object] : objects) {
        if (ValuesFingerprint(object.properties) != object.fingerprint) {
            throw std::runtime_error(place + " could not be rebuilt as it was");
        }
        instances.push_back({object.class_name, object.instance_name, std::move(object.properties)});
    }
    return instances;
}

std::vector<StoredInstance> SqliteStore::List(const std::wstring* class_name, const std::wstring* instance_name) {
    std::vector<StoredInstance> instances;
    Statement select(ThreadConnection(), kListInstances);
    select.Bind(1, class_name).Bind(2, instance_name);
    while (select.Step()) {
        StoredInstance instance{OS::FromUtf8(select.Text(0)), OS::FromUtf8(select.Text(1)), {}};
        instance.properties = PropertiesFromRow(select.Text(2), PlaceOf(instance.class_name, instance.instance_name),
                                                DeclarationOf(declarations_, instance.class_name));
        instances.push_back(std::move(instance));
    }
    return instances;
}

void SqliteStore::Replace(const std::vector<StoredInstance>& instances) {
    std::vector<std::string> texts;
    texts.reserve(instances.size());
    for (const StoredInstance& instance : instances) {
        try {
            texts.push_back(PropertiesToJson(instance.properties).dump());
        } catch (const StoreFormatError& error) {
            throw StoreFormatError(PlaceOf(instance.class_name, instance.instance_name) + "/" + error.what());
        }
    }
    Database& database = ThreadConnection();
    database.Write([&] {
        for (std::size_t index = 0; index < instances.size(); ++index) {
            Statement(database, kReplaceInstance)
                .Bind(1, OS::ToUtf8(instances[index].class_name))
                .Bind(2, OS::ToUtf8(instances[index].instance_name))
                .Bind(3, texts[index])
                .Step();
        }
        return true;
    });
}

bool SqliteStore::Delete(const std::wstring& class_name, const std::wstring& instance_name) {
    Database& database = ThreadConnection();
    return database.Write([&] {
        Statement(database, kDeleteInstance).Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step();
        return database.Changes() == 1;
    });
}

}  // namespace tessera::host
