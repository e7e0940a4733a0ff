// A connection to the store's database, whichever engine holds it, and the
// statements run on it. The store's logic is written once against these; an
// engine (SQLite, PostgreSQL) says how a statement runs and a transaction begins.
#pragma once

#include "console_store.h"
#include "mgmt_store.h"
#include "os_string.h"
#include "store_errors.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::host::sql {

// What a parameter holds, for an engine that types its parameters when it
// prepares a statement (a null says what it stands in for).
enum class ValueType { kText, kInteger };

// One prepared statement of an engine: bound, stepped through its rows, reset.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual void BindText(int index, std::string_view text) = 0;
    virtual void BindInteger(int index, std::int64_t value) = 0;
    virtual void BindNull(int index, ValueType type) = 0;
    // True while there is a row to read.
    virtual bool Step() = 0;
    // Valid until the statement steps again or is reset; empty for a null.
    virtual std::string_view TextView(int column) const = 0;
    virtual std::int64_t Integer(int column) const = 0;
    virtual bool IsNull(int column) const = 0;
    virtual void Reset() noexcept = 0;
};

// One open connection with its prepared statements. Used by one thread; only
// Close may come from another, the one that destroys the store.
class Database {
public:
    Database() = default;
    virtual ~Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    virtual void Close() noexcept = 0;
    virtual bool IsOpen() const = 0;
    // A connection the server dropped: every statement on it fails, and the
    // store opens another once no action or reading is using this one.
    virtual bool IsLost() const { return false; }
    virtual bool IsInTransaction() const = 0;
    // The statement of `sql`, prepared once; `sql` is one of the constants of
    // sql_text.h, so its address is the cache key.
    virtual Cursor& Prepared(const char* sql) = 0;
    // Rows changed by the last statement that wrote.
    virtual int Changes() const = 0;
    virtual bool IsReadOnly() const = 0;

    // A transaction that writes: it waits up to the busy timeout until no
    // other writer of the store (of any process or console) holds one, so
    // writers never interleave.
    virtual void BeginWriting() = 0;
    // A transaction that only reads, of one snapshot.
    virtual void BeginReading() = 0;
    virtual void Commit() = 0;
    virtual void RollBack() noexcept = 0;

    // A number that changes whenever the data changed, read inside a
    // transaction: it names that transaction's snapshot. Null for an engine
    // that cannot tell; objects carry revisions there instead.
    virtual std::optional<std::uint32_t> DataVersion() const { return std::nullopt; }
    // Whether each stored object carries a revision that no other text of it
    // ever had (kSelectRevision reads it).
    virtual bool HasRevisions() const { return false; }
    // Damage the engine finds in its own files, one line each.
    virtual std::vector<std::string> EngineProblems(bool is_thorough) {
        (void)is_thorough;
        return {};
    }
    // The statements that make the store's tables, in order.
    virtual std::vector<const char*> Schema() const = 0;
    // Whether the store's schema may be of an older console (only SQLite's files are).
    virtual bool MayNeedUpgrades() const { return false; }

    void Run(const char* sql);
    std::string Query(const char* sql);

    // Runs `work` inside one writing transaction and commits what it did, or
    // rolls it all back when it throws. Inside an action the action's
    // transaction is used, and ends with it.
    template <class Work>
    bool Write(Work&& work) {
        if (action_ != nullptr) {
            return work();
        }
        BeginWriting();
        try {
            const bool result = work();
            Commit();
            return result;
        } catch (...) {
            RollBack();
            throw;
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

    // The store's own notes on this connection. Which decoded form it last
    // loaded of each object in a read transaction, with the data version of
    // that transaction's snapshot: while the version stands, nobody changed
    // the data in between, and the decoded form, if the cache still holds it,
    // is handed out again without reading the row.
    struct Loaded {
        std::uint32_t data_version;
        std::uint64_t generation;  // of the decoded cache's entry
    };
    std::map<std::string, Loaded> loaded;
    bool is_reading = false;  // inside RunReading's own transaction
    // On an engine with revisions: every object's revision and version (by
    // "class/instance"), read once in that transaction, as its snapshot holds them.
    struct Stamps {
        std::int64_t revision;
        std::int64_t version;
    };
    std::optional<std::map<std::string, Stamps>> reading_stamps;
    std::optional<std::uint32_t> reading_version;  // of that transaction, when the engine tells it
    std::optional<std::string> read_failure;       // why a load inside it failed, first reason only

private:
    Action* action_ = nullptr;
};

// A prepared statement in use: bound, stepped, and reset when it goes.
class Statement {
public:
    Statement(Database& database, const char* sql) : cursor_(database.Prepared(sql)) {}
    ~Statement() { cursor_.Reset(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text) {
        cursor_.BindText(index, text);
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        cursor_.BindInteger(index, value);
        return *this;
    }
    // NULL for a null text or no number.
    Statement& Bind(int index, const std::string* text) {
        if (text == nullptr) return BindNull(index, ValueType::kText);
        return Bind(index, *text);
    }
    Statement& Bind(int index, const std::wstring* text) {
        if (text == nullptr) return BindNull(index, ValueType::kText);
        return Bind(index, OS::ToUtf8(*text));
    }
    Statement& Bind(int index, std::optional<std::int64_t> value) {
        if (!value) return BindNull(index, ValueType::kInteger);
        return Bind(index, *value);
    }
    Statement& BindNull(int index, ValueType type) {
        cursor_.BindNull(index, type);
        return *this;
    }

    bool Step() { return cursor_.Step(); }
    std::string Text(int column) const { return std::string(TextView(column)); }
    std::string_view TextView(int column) const { return cursor_.TextView(column); }
    std::int64_t Integer(int column) const { return cursor_.Integer(column); }
    bool IsNull(int column) const { return cursor_.IsNull(column); }

private:
    Cursor& cursor_;
};

// How the store names an object in its notes and messages: "class/instance".
std::string PlaceOf(const std::wstring& class_name, const std::wstring& instance_name);

// Inside a reading on an engine with revisions: the object's stamps, from one
// query of every object's (zeros when it is not stored); else null.
std::optional<Database::Stamps> ReadingStamps(Database& connection, const std::string& place);

// A new connection to the store at `address`.
std::shared_ptr<Database> Connect(const StoreAddress& address, int busy_timeout_ms);

inline void Database::Run(const char* sql) {
    Statement statement(*this, sql);
    while (statement.Step()) {}
}

inline std::string Database::Query(const char* sql) {
    Statement statement(*this, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

}  // namespace tessera::host::sql
