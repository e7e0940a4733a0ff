// The console's accounts: rows of their own, written in an action's transaction
// when there is one, so that an account's change and its audit record are
// stored together or not at all.
#include "console_store.h"
#include "database.h"
#include "os_string.h"
#include "sql_text.h"
#include "store_errors.h"

namespace tessera::host {

using sql::kDeleteAccount;
using sql::kDeleteAccountFactors;
using sql::kDeleteAccountTokens;
using sql::kDeleteApiToken;
using sql::kDeleteSecondFactors;
using sql::kFindSecondFactor;
using sql::kReplaceAccount;
using sql::kReplaceApiToken;
using sql::kReplaceSecondFactor;
using sql::kSelectAccounts;
using sql::kSelectApiTokens;
using sql::kSelectSecondFactors;
using sql::kSelectVersion;
using sql::LogFailure;
using sql::Statement;

namespace {

std::vector<AccountRow> SelectAccounts(sql::Database& database, const std::string* name) {
    Statement select(database, kSelectAccounts);
    select.Bind(1, name);
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
bool WriteAccounts(sql::Database& database, const std::string& what, Write&& write) {
    try {
        if (const sql::Database::Action* action = database.CurrentAction(); action && action->refusal) {
            return false;
        }
        return database.Write(write);
    } catch (const sql::StoreError& error) {
        database.Refuse(error);
        LogFailure(__LINE__, "Cannot " + what + ": " + error.what());
        return false;
    }
}

std::vector<SecondFactorRow> FactorRows(Statement& select) {
    std::vector<SecondFactorRow> rows;
    while (select.Step()) {
        rows.push_back(
            {select.Text(0), select.Text(1), select.Text(2), select.Text(3), select.Text(4), select.Integer(5)});
    }
    return rows;
}

std::vector<ApiTokenRow> SelectApiTokens(sql::Database& database, const std::string* account, const std::string* id) {
    Statement select(database, kSelectApiTokens);
    select.Bind(1, account).Bind(2, id);
    std::vector<ApiTokenRow> rows;
    while (select.Step()) {
        rows.push_back({select.Text(0), select.Text(1), select.Text(2), select.Text(3), select.Text(4), select.Text(5),
                        select.Text(6), select.Text(7), select.Text(8)});
    }
    return rows;
}

}  // namespace

std::vector<AccountRow> ConsoleStore::ReadAccounts() { return SelectAccounts(ThreadConnection(), nullptr); }

std::optional<AccountRow> ConsoleStore::ReadAccount(const std::string& name) {
    std::vector<AccountRow> rows = SelectAccounts(ThreadConnection(), &name);
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

bool ConsoleStore::PutAccount(const AccountRow& row) {
    sql::Database& database = ThreadConnection();
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

bool ConsoleStore::RemoveAccount(const std::string& name) {
    sql::Database& database = ThreadConnection();
    return WriteAccounts(database, "remove the account " + name, [&] {
        Statement(database, kDeleteAccount).Bind(1, name).Step();
        const bool is_removed = database.Changes() == 1;
        Statement(database, kDeleteAccountFactors).Bind(1, name).Step();
        Statement(database, kDeleteAccountTokens).Bind(1, name).Step();
        Statement(database, sql::kDeleteAccountSessions).Bind(1, name).Bind(2, std::string()).Step();
        return is_removed;
    });
}

std::vector<SecondFactorRow> ConsoleStore::ReadSecondFactors(const std::string& account) {
    Statement select(ThreadConnection(), kSelectSecondFactors);
    select.Bind(1, account);
    return FactorRows(select);
}

std::optional<SecondFactorRow> ConsoleStore::FindSecondFactor(const std::string& kind, const std::string& id) {
    Statement select(ThreadConnection(), kFindSecondFactor);
    select.Bind(1, kind).Bind(2, id);
    std::vector<SecondFactorRow> rows = FactorRows(select);
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

bool ConsoleStore::PutSecondFactor(const SecondFactorRow& row) {
    sql::Database& database = ThreadConnection();
    return WriteAccounts(database, "store a second factor of " + row.account, [&] {
        Statement(database, kReplaceSecondFactor)
            .Bind(1, row.account)
            .Bind(2, row.kind)
            .Bind(3, row.id)
            .Bind(4, row.secret)
            .Bind(5, row.created)
            .Bind(6, row.counter)
            .Step();
        return true;
    });
}

bool ConsoleStore::RemoveSecondFactors(const std::string& account, const std::string* kind, const std::string* id) {
    sql::Database& database = ThreadConnection();
    return WriteAccounts(database, "remove second factors of " + account, [&] {
        Statement(database, kDeleteSecondFactors).Bind(1, account).Bind(2, kind).Bind(3, id).Step();
        return true;
    });
}

std::int64_t ConsoleStore::VersionOf(const std::wstring& class_name, const std::wstring& instance_name) {
    sql::Database& connection = ThreadConnection();
    if (const std::optional<sql::Database::Stamps> stamps =
            sql::ReadingStamps(connection, sql::PlaceOf(class_name, instance_name))) {
        return stamps->version;
    }
    Statement select(connection, kSelectVersion);
    if (!select.Bind(1, OS::ToUtf8(class_name)).Bind(2, OS::ToUtf8(instance_name)).Step()) return 0;
    return select.Integer(0);
}

std::vector<ApiTokenRow> ConsoleStore::ReadApiTokens(const std::string* account) {
    return SelectApiTokens(ThreadConnection(), account, nullptr);
}

std::optional<ApiTokenRow> ConsoleStore::FindApiToken(const std::string& id) {
    std::vector<ApiTokenRow> rows = SelectApiTokens(ThreadConnection(), nullptr, &id);
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

bool ConsoleStore::PutApiToken(const ApiTokenRow& row) {
    sql::Database& database = ThreadConnection();
    return WriteAccounts(database, "store the token " + row.name + " of " + row.account, [&] {
        Statement(database, kReplaceApiToken)
            .Bind(1, row.id)
            .Bind(2, row.account)
            .Bind(3, row.name)
            .Bind(4, row.scope)
            .Bind(5, row.secret_hash)
            .Bind(6, row.created)
            .Bind(7, row.expires)
            .Bind(8, row.last_used)
            .Bind(9, row.last_address)
            .Step();
        return true;
    });
}

bool ConsoleStore::RemoveApiToken(const std::string& id) {
    sql::Database& database = ThreadConnection();
    return WriteAccounts(database, "remove a token", [&] {
        Statement(database, kDeleteApiToken).Bind(1, id).Step();
        return database.Changes() == 1;
    });
}

}  // namespace tessera::host
