// The console's accounts: rows of their own, written in an action's transaction
// when there is one, so that an account's change and its audit record are
// stored together or not at all.
#include "sqlite_database.h"
#include "sqlite_store.h"
#include "store_errors.h"

namespace tessera::host {

using sqlite::kDeleteAccount;
using sqlite::kReplaceAccount;
using sqlite::kSelectAccounts;
using sqlite::LogFailure;
using sqlite::Statement;

namespace {

std::vector<AccountRow> SelectAccounts(sqlite::Database& database, const std::string* name) {
    Statement select(database, kSelectAccounts);
    if (name == nullptr) {
        select.BindNull(1);
    } else {
        select.Bind(1, *name);
    }
    std::vector<AccountRow> rows;
    while (select.Step()) {
        rows.push_back({select.Text(0), select.Text(1), select.Text(2), select.Integer(3) != 0, select.Text(4),
                        select.Text(5), select.Integer(6)});
    }
    return rows;
}

// `write` inside the action's transaction, or one of its own; false when the
// store refused (the action's later writes then fail too).
template <class Write>
bool WriteAccounts(sqlite::Database& database, const std::string& what, Write&& write) {
    try {
        if (const sqlite::Database::Action* action = database.CurrentAction(); action && action->refusal) {
            return false;
        }
        return database.Write(write);
    } catch (const sqlite::StoreError& error) {
        database.Refuse(error);
        LogFailure(__LINE__, "Cannot " + what + ": " + error.what());
        return false;
    }
}

}  // namespace

std::vector<AccountRow> SqliteStore::ReadAccounts() { return SelectAccounts(ThreadConnection(), nullptr); }

std::optional<AccountRow> SqliteStore::ReadAccount(const std::string& name) {
    std::vector<AccountRow> rows = SelectAccounts(ThreadConnection(), &name);
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

bool SqliteStore::PutAccount(const AccountRow& row) {
    sqlite::Database& database = ThreadConnection();
    return WriteAccounts(database, "store the account " + row.name, [&] {
        Statement(database, kReplaceAccount)
            .Bind(1, row.name)
            .Bind(2, row.role)
            .Bind(3, row.password)
            .Bind(4, std::int64_t{row.is_disabled ? 1 : 0})
            .Bind(5, row.created)
            .Bind(6, row.last_sign_in)
            .Bind(7, row.credential_version)
            .Step();
        return true;
    });
}

bool SqliteStore::RemoveAccount(const std::string& name) {
    sqlite::Database& database = ThreadConnection();
    return WriteAccounts(database, "remove the account " + name, [&] {
        Statement(database, kDeleteAccount).Bind(1, name).Step();
        return database.Changes() == 1;
    });
}

}  // namespace tessera::host
