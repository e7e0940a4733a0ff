// The PostgreSQL engine: one libpq connection, statements prepared once and
// kept, writers serialised by a transaction-scoped advisory lock.
#pragma once

#include "database.h"

#include <libpq-fe.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tessera::host::sql {

// What a connection URI names, for messages: "postgresql://HOST:PORT/DB",
// never a password. Throws std::invalid_argument when libpq cannot read it,
// or when it holds a password (which belongs in the password file).
std::string PostgresDisplayName(const std::string& uri);

class PostgresDatabase final : public Database {
public:
    // Connects to the server; one that cannot be reached leaves the
    // connection lost (IsLost), with libpq's reason on every statement.
    PostgresDatabase(const std::string& uri, int busy_timeout_ms);
    ~PostgresDatabase() override;

    void Close() noexcept override;
    bool IsOpen() const override;
    bool IsLost() const override;
    bool IsInTransaction() const override;
    Cursor& Prepared(const char* sql) override;
    int Changes() const override { return changes_; }
    bool IsReadOnly() const override { return false; }  // a standby refuses each write with its reason
    void BeginWriting() override;
    void BeginReading() override;
    void Commit() override;
    void RollBack() noexcept override;
    bool HasRevisions() const override { return true; }
    std::vector<const char*> Schema() const override;

    // Throws the StoreError that `result` (null: the connection) reports, and clears it.
    [[noreturn]] void Fail(PGresult* result) const;
    PGconn* Handle() const { return connection_; }
    void NoteChanges(int changes) { changes_ = changes; }
    // Connects again in place of a connection the server dropped; every
    // statement is prepared anew on its next run.
    void Reconnect();

private:
    class PostgresCursor;
    // Runs statements without parameters, several at once; throws when one fails.
    void Execute(const std::string& text, const char* expected_status = nullptr);
    void RefuseNestedBegin() const;
    void Begin(const std::string& text);

    mutable std::mutex mutex_;
    PGconn* connection_ = nullptr;
    std::map<const char*, std::unique_ptr<PostgresCursor>> statements_;
    std::string name_;
    std::string begin_writing_;
    int changes_ = 0;
};

}  // namespace tessera::host::sql
