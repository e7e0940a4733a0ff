// Sessions, passkey challenges and failed sign-ins: small rows that every
// console of one store reads and writes, each change one statement of its
// own. They are not administrative actions: none takes the writers' lock, so
// a sign-in never waits for a long save on PostgreSQL.
#include "console_store.h"
#include "database.h"
#include "sql_text.h"
#include "store_errors.h"

namespace tessera::host {

using sql::Statement;

namespace {

std::int64_t Count(std::size_t count) { return static_cast<std::int64_t>(count); }

SessionRow SessionOf(const Statement& select) {
    return {select.Text(0),    select.Text(1),    select.Text(2),    select.Integer(3), select.Text(4),  select.Text(5),
            select.Integer(6), select.Integer(7), select.Integer(8), select.Text(9),    select.Text(10), std::nullopt};
}

}  // namespace

std::optional<SessionRow> ConsoleStore::FindSession(const std::string& id_hash) {
    Statement select(ThreadConnection(), sql::kFindSession);
    select.Bind(1, id_hash);
    if (!select.Step()) return std::nullopt;
    SessionRow row = SessionOf(select);
    if (!select.IsNull(11))
        row.holder = SessionRow::Holder{select.Text(11), select.Integer(12) != 0, select.Integer(13)};
    return row;
}

std::vector<SessionRow> ConsoleStore::ReadSessions(const std::string* account) {
    Statement select(ThreadConnection(), sql::kSelectSessions);
    select.Bind(1, account);
    std::vector<SessionRow> rows;
    while (select.Step()) rows.push_back(SessionOf(select));
    return rows;
}

void ConsoleStore::AddSession(const SessionRow& row) {
    Statement(ThreadConnection(), sql::kInsertSession)
        .Bind(1, row.id_hash)
        .Bind(2, row.handle)
        .Bind(3, row.account)
        .Bind(4, row.credential_version)
        .Bind(5, row.stage)
        .Bind(6, row.offered_secret)
        .Bind(7, row.proven_at)
        .Bind(8, row.started)
        .Bind(9, row.last_used)
        .Bind(10, row.address)
        .Bind(11, row.browser)
        .Step();
}

bool ConsoleStore::UpdateSession(const SessionRow& row) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kUpdateSessionStage)
        .Bind(1, row.id_hash)
        .Bind(2, row.stage)
        .Bind(3, row.offered_secret)
        .Bind(4, row.proven_at)
        .Step();
    return database.Changes() == 1;
}

void ConsoleStore::NoteSessionUse(const std::string& id_hash, std::int64_t last_used) {
    try {
        Statement(ThreadConnection(), sql::kNoteSessionUse).Bind(1, id_hash).Bind(2, last_used).Step();
    } catch (const sql::StoreError& error) {
        sql::LogFailure(__LINE__, std::string("Cannot note a session's use: ") + error.what());
    }
}

bool ConsoleStore::RemoveSession(const std::string& id_hash) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kDeleteSession).Bind(1, id_hash).Step();
    return database.Changes() == 1;
}

std::int64_t ConsoleStore::RemoveSessionsOf(const std::string& account, const std::string& kept_id_hash) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kDeleteAccountSessions).Bind(1, account).Bind(2, kept_id_hash).Step();
    return database.Changes();
}

std::optional<std::string> ConsoleStore::RemoveSessionByHandle(const std::string& handle, const std::string* account) {
    Statement remove(ThreadConnection(), sql::kDeleteSessionByHandle);
    remove.Bind(1, handle).Bind(2, account);
    if (!remove.Step()) return std::nullopt;
    std::string owner = remove.Text(0);
    while (remove.Step()) {}
    return owner;
}

void ConsoleStore::PruneSessions(std::int64_t idle_before, std::int64_t started_before, std::size_t kept) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kDeleteStaleSessions).Bind(1, idle_before).Bind(2, started_before).Step();
    Statement(database, sql::kDeleteLeastRecentSessions).Bind(1, Count(kept)).Step();
}

void ConsoleStore::AddPasskeyChallenge(const std::string& token, const PasskeyChallengeRow& row,
                                       std::int64_t stale_before, std::size_t kept) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kDeleteStalePasskeyChallenges).Bind(1, stale_before).Step();
    // Room for the new one among the `kept`.
    Statement(database, sql::kDeleteLeastRecentPasskeyChallenges).Bind(1, Count(kept) - 1).Step();
    Statement(database, sql::kInsertPasskeyChallenge)
        .Bind(1, token)
        .Bind(2, row.session_hash)
        .Bind(3, row.challenge)
        .Bind(4, row.issued)
        .Step();
}

std::optional<PasskeyChallengeRow> ConsoleStore::TakePasskeyChallenge(const std::string& token) {
    Statement take(ThreadConnection(), sql::kTakePasskeyChallenge);
    take.Bind(1, token);
    if (!take.Step()) return std::nullopt;
    PasskeyChallengeRow row{take.Text(0), take.Text(1), take.Integer(2)};
    while (take.Step()) {}
    return row;
}

std::int64_t ConsoleStore::CountSignInFailure(const std::string& subject, std::int64_t now, std::int64_t forget_before,
                                              std::size_t kept) {
    sql::Database& database = ThreadConnection();
    Statement(database, sql::kDeleteStaleSignInFailures).Bind(1, forget_before).Step();
    std::int64_t failures = 0;
    {
        Statement count(database, sql::kCountSignInFailure);
        count.Bind(1, subject).Bind(2, now).Bind(3, forget_before);
        while (count.Step()) failures = count.Integer(0);
    }
    Statement(database, sql::kDeleteLeastRecentSignInFailures).Bind(1, Count(kept)).Step();
    return failures;
}

void ConsoleStore::BarSignIn(const std::string& subject, std::int64_t until) {
    Statement(ThreadConnection(), sql::kBarSignIn).Bind(1, subject).Bind(2, until).Step();
}

std::int64_t ConsoleStore::SignInBarredUntil(const std::string& subject) {
    Statement select(ThreadConnection(), sql::kSelectSignInBar);
    select.Bind(1, subject);
    return select.Step() ? select.Integer(0) : 0;
}

void ConsoleStore::ForgetSignInFailures(const std::string& subject) {
    Statement(ThreadConnection(), sql::kDeleteSignInFailures).Bind(1, subject).Step();
}

}  // namespace tessera::host
