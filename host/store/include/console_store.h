// The console's store, in SQLite or PostgreSQL, with one transaction per
// administrative action.
#pragma once

#include "mgmt_store.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessera::host {

namespace sql {
class Database;
}

// What became of the writes of one administrative action.
struct ActionOutcome {
    bool is_stored = true;
    std::string refusal;          // when not stored: why, in plain words for the administrator
    std::int64_t audit_seq = 0;   // of the action's last stored audit record, 0 when none
    std::string changes_summary;  // JSON array of SummarizeChange, one per changed object; empty when none
};

// Which audit records to read; empty fields match every record.
struct HistoryQuery {
    std::string action;
    std::string since;            // ISO-8601 time or a prefix of one ("2026-12-01")
    std::string until;            // the same, up to the end of what it names
    std::size_t limit = 0;        // the newest this many; 0 for all
    std::int64_t seq = 0;         // this stored record only
    std::int64_t before_seq = 0;  // stored records older than this one only
};

// Through what an action came, for its audit records: "browser", "api"
// (with the token's name), "command line".
struct ActionChannel {
    std::string name;
    std::string token;
};

// What an action's audit records report: changes of the store, which a
// rollback undoes (a save, a reset), or something done outside it, which
// stays done (an export's file, an import's review).
enum class ActionEffect { kChangesStore, kOutsideStore };

// Thrown by a read of the store that the engine refused (its server gone,
// busy past the timeout, damaged): the request it served can be tried again.
class StoreRefused : public std::runtime_error {
public:
    StoreRefused(const std::string& what, std::string reason) : std::runtime_error(what), reason_(std::move(reason)) {}
    // In words an administrator can act on.
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

// Thrown by ConsoleStore::Open for a store that was never provisioned, when it may not be.
class StoreAbsent : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown by an action whose work outside the store failed (an export that
// could not be written): RunAction rolls it back and keeps none of its audit
// records, for what they report did not happen.
class AbandonedAction : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct HistoryRecord {
    AuditRecord record;           // with its action
    std::string changes_summary;  // as in ActionOutcome
};

// An administrator's account as the store keeps it; the console gives the
// fields their meaning (`password` is a hash in the console's own encoding).
struct AccountRow {
    std::string name;
    std::string role;
    std::string password;
    bool is_disabled = false;
    std::string created;       // ISO-8601 UTC
    std::string last_sign_in;  // the same, empty when never
    std::int64_t credential_version = 1;
};

// One second factor of an account: `secret` and `counter` are the console's
// to read (an authenticator's secret and last time step, a code's hash).
struct SecondFactorRow {
    std::string account;
    std::string kind;
    std::string id;
    std::string secret;
    std::string created;
    std::int64_t counter = 0;
};

// An automation token of an account: `secret_hash` is the console's to read.
struct ApiTokenRow {
    std::string id;
    std::string account;
    std::string name;
    std::string scope;
    std::string secret_hash;
    std::string created;       // ISO-8601 UTC
    std::string expires;       // the same
    std::string last_used;     // the same, empty when never
    std::string last_address;  // of the last use
};

// A signed-in administrator's session as every console of the store sees it,
// kept under the SHA-256 of its id (the id is the cookie's secret). Times are
// milliseconds since 1970 on the wall clock; the console gives the fields
// their meaning.
struct SessionRow {
    std::string id_hash;
    std::string handle;
    std::string account;
    std::int64_t credential_version = 0;
    std::string stage;
    std::string offered_secret;
    std::int64_t proven_at = 0;
    std::int64_t started = 0;
    std::int64_t last_used = 0;
    std::string address;
    std::string browser;
    // Read by FindSession alone: the session's account as it is now, null
    // when there is no such account.
    struct Holder {
        std::string role;
        bool is_disabled = false;
        std::int64_t credential_version = 0;
    };
    std::optional<Holder> holder;
};

// A passkey ceremony's challenge, given to the session of `session_hash`
// (empty for a sign-in, which has none yet).
struct PasskeyChallengeRow {
    std::string session_hash;
    std::string challenge;
    std::int64_t issued = 0;  // milliseconds since 1970
};

// What a walk of the audit records' chain found (docs/audit.md).
struct AuditChainCheck {
    std::int64_t records = 0;               // that hold, from the first
    std::int64_t head_seq = 0;              // the last of them; 0 when none
    std::string head_chain;                 // its chain value
    std::optional<std::int64_t> broken_at;  // the first record that breaks the chain
    std::string problem;                    // what is wrong there, in plain words
};

// What a copy of the store took: rows by table, in the order copied.
struct StoreCopy {
    std::vector<std::pair<std::string, std::int64_t>> rows;
};

// An audit record waiting to be forwarded: as History reads it, with its chain value.
struct OutboxRecord {
    HistoryRecord entry;
    std::string chain;
};

// How far forwarding to one destination has got (docs/audit.md).
struct ForwardingState {
    std::string destination;
    std::int64_t sent_seq = 0;  // every record up to this one has been delivered there
    std::string sent_time;      // when the last was, ISO-8601 UTC; empty when none was
    std::int64_t waiting = 0;   // records still to deliver there
    std::string error;          // the last failure, kept after later successes
    std::string error_time;
};

// Where a store is, as `--store` names it: "sqlite:PATH", or a PostgreSQL
// connection URI ("postgresql://HOST/DB?sslmode=verify-full", password from
// the password file, never in the URI).
struct StoreAddress {
    enum class Engine { kSqlite, kPostgresql };
    Engine engine = Engine::kSqlite;
    std::string target;                        // the file, or the connection URI
    std::filesystem::path pending_audit_file;  // where records the store cannot take wait
};

// The address of `url`; an empty one is `data_dir`/store.db. Throws
// std::invalid_argument in plain words for a URL of no engine, or one that
// holds a password.
StoreAddress ParseStoreAddress(const std::string& url, const std::filesystem::path& data_dir);

// Every writer of a PostgreSQL store holds this advisory lock until its
// transaction ends: one writer at a time across every console, as SQLite's
// write lock gives one file. A program that writes beside the consoles takes it too.
inline constexpr long long kPostgresWriterLock = 0x7465737365726121;  // "tessera!"

// The PostgreSQL channel that a reader of the store listens on: each change
// of an object's text, once committed, is announced there as "class/instance",
// by a trigger of the schema (whose text the macro lets name it).
#define TESSERA_POSTGRES_CHANGES_CHANNEL "tessera_changes"
inline constexpr const char* kPostgresChangesChannel = TESSERA_POSTGRES_CHANGES_CHANNEL;

// Where the store at `address` is, for messages: the file, or
// "postgresql://HOST:PORT/DB" (never a password).
std::string StoreName(const StoreAddress& address);

// One connection per thread and store, every write one transaction that no
// other writer interleaves with (SQLite's write lock; on PostgreSQL a
// transaction-scoped advisory lock that every console takes), prepared
// statements only. Reading never waits for a writer. Audit records the store
// cannot take are kept in the address's pending-audit file (owner-only, one
// JSON object a line) and written by the next transaction that commits.
class ConsoleStore : public StoreBackend {
public:
    // Opens or creates the store. On first use (no declarations stored) it is
    // provisioned from `resource_dir`/classes.json and `resource_dir`/provision.json;
    // a provisioned store opens without the write lock. Audit records kept aside
    // are written when the write lock comes within the busy timeout, else later.
    // The busy timeout is TESSERA_STORE_BUSY_MS when set, else 5000 ms. Throws
    // std::runtime_error naming the store when it cannot be opened or provisioned.
    // With `may_provision` false, a store that was never provisioned is
    // refused instead (StoreAbsent), and left as it is.
    static std::shared_ptr<ConsoleStore> Open(const StoreAddress& address, const std::filesystem::path& resource_dir,
                                              bool may_provision = true);
    // The SQLite store in `database_file`.
    static std::shared_ptr<ConsoleStore> Open(const std::filesystem::path& database_file,
                                              const std::filesystem::path& resource_dir);
    ~ConsoleStore() override;

    bool Load(const std::wstring& class_name, const std::wstring& instance_name, PropertyBag& out) override;
    bool Save(const std::wstring& class_name, const std::wstring& instance_name,
              const PropertyBag& properties) override;
    // Outside an action a record the store cannot take is kept aside, never lost.
    bool AppendAudit(AuditRecord record) override;
    // The stored records, then those kept aside (seq 0), oldest first.
    std::vector<AuditRecord> ReadAudit() override;
    std::vector<StoredInstance> List(const std::wstring* class_name, const std::wstring* instance_name) override;
    void Replace(const std::vector<StoredInstance>& instances) override;
    bool Delete(const std::wstring& class_name, const std::wstring& instance_name) override;
    const Declarations& ClassDeclarations() const override { return declarations_; }

    // Runs `action` on this thread as one transaction, taken before it starts
    // (waiting up to the busy timeout for the write lock): its Loads see one
    // state, and its Saves and audit records are stored together when it
    // returns, or none of them is. When the store refuses a write (busy past
    // the timeout, read-only, disk full, I/O error) the transaction is rolled
    // back at once; the action's later Saves fail without waiting, its Loads
    // read what is stored, and its audit records are kept aside, each noted
    // as rolled back with the reason when `effect` is kChangesStore. A Load
    // that finds the store damaged refuses the action the same way. Rolls
    // back and rethrows what `action` throws, keeping its audit records aside
    // (noted the same way), but for AbandonedAction: then none is kept, and
    // the outcome's refusal is its text.
    // Its audit records carry `action_name` unless they name their own action;
    // what its Saves changed is journaled on its last audit record. They
    // carry `channel` unless they name their own.
    ActionOutcome RunAction(const std::function<void()>& action, const std::string& action_name = {},
                            ActionEffect effect = ActionEffect::kChangesStore, const ActionChannel& channel = {});

    // Runs `reading` on this thread inside one read transaction: its Loads see
    // one state, and take the store's read lock once, not once each. A write
    // inside it fails (its Save returns false, its audit record is kept aside):
    // it is for work that changes nothing. Inside an action it is the action's.
    // Returns why a Load inside it failed on an object that is stored (a
    // damaged file, an unreadable object), in plain words; null when none did.
    std::optional<std::string> RunReading(const std::function<void()>& reading);

    // The damage the engine's quick check finds in its files (SQLite's quick
    // check; a database server guards its own), one line each; empty when it
    // is whole. `is_thorough` runs SQLite's integrity check instead, which also
    // reads every row against its indexes, and decodes every stored object.
    // Throws std::runtime_error naming the store when the check cannot run at all.
    std::vector<std::string> CheckIntegrity(bool is_thorough = false);

    // Audit records newest first, those kept aside before the stored ones.
    std::vector<HistoryRecord> ReadHistory(const HistoryQuery& query);
    // The objects that record `seq` and every later record changed, as they
    // were before record `seq`. Throws std::runtime_error in plain words when
    // `seq` changed nothing or an object was changed outside the console since.
    // Inside an action, it reads the action's state.
    std::vector<StoredInstance> StateBefore(std::int64_t seq);

    // The latest audit record's seq and chain value, as stored (0 and empty
    // when there is none).
    std::pair<std::int64_t, std::string> ReadAuditHead();
    // Walks the audit records' chain from the first record. With `kept` (a
    // head taken earlier: seq and chain value), the chain also breaks where
    // that record is gone or carries another value. Throws std::runtime_error
    // when the store cannot be read.
    AuditChainCheck VerifyAuditChain(const std::optional<std::pair<std::int64_t, std::string>>& kept);

    // Forwarding. Every audit record joins the outbox in its own transaction
    // and leaves it once every destination forwarded to has it.
    // Keeps the progress of `destinations` only (a destination new to the
    // store starts with the records still in the outbox).
    void StartForwarding(const std::vector<std::string>& destinations);
    // The records `destination` has not had yet, oldest first, at most `limit`.
    std::vector<OutboxRecord> ReadOutbox(const std::string& destination, std::size_t limit);
    // Notes that `destination` has every record up to `seq` now, and lets go
    // of the records that every one of `destinations` has.
    void MarkForwarded(const std::string& destination, std::int64_t seq, const std::vector<std::string>& destinations);
    void NoteForwardingError(const std::string& destination, const std::string& error);
    // Of each destination StartForwarding kept, by name. All of these throw
    // std::runtime_error when the store cannot be read or written.
    std::vector<ForwardingState> ReadForwarding();

    // The accounts by name, or the one named. Throws std::runtime_error when
    // the store cannot be read.
    std::vector<AccountRow> ReadAccounts();
    std::optional<AccountRow> ReadAccount(const std::string& name);
    // Stores `row` in place of the account of its name, or removes the account
    // (false when there was none); inside an action, as part of it. False when
    // the store refused, as Save.
    bool PutAccount(const AccountRow& row);
    bool RemoveAccount(const std::string& name);
    // An account's second factors, by kind and id; stored and removed as
    // accounts are. Removing an account removes its factors.
    std::vector<SecondFactorRow> ReadSecondFactors(const std::string& account);
    // The factor of `kind` with `id`, whoever's it is (a passkey is found by its credential id).
    std::optional<SecondFactorRow> FindSecondFactor(const std::string& kind, const std::string& id);
    bool PutSecondFactor(const SecondFactorRow& row);
    // `kind` and `id` null: every one of the account's, of the kind, or that one.
    bool RemoveSecondFactors(const std::string& account, const std::string* kind, const std::string* id);

    // The stored version of an object: 1 when it was made, one more with every
    // write that changed it; 0 when there is no such object. Inside an action
    // or a reading, of its snapshot. Throws std::runtime_error when the store
    // cannot be read.
    std::int64_t VersionOf(const std::wstring& class_name, const std::wstring& instance_name);

    // Automation tokens, of one account or (null) of all, by account and name;
    // stored and removed as accounts are. Removing an account removes its tokens and sessions.
    std::vector<ApiTokenRow> ReadApiTokens(const std::string* account);
    std::optional<ApiTokenRow> FindApiToken(const std::string& id);
    bool PutApiToken(const ApiTokenRow& row);
    bool RemoveApiToken(const std::string& id);

    // Sessions, passkey challenges and failed sign-ins: shared by every
    // console of the store, so that any of them answers any request. Called
    // outside actions, each is a statement of its own, which on PostgreSQL
    // waits for no action to end. A store that refuses throws StoreRefused.
    // Times are as in SessionRow.
    // The session with its holder, read in one statement: every request with a session reads it.
    std::optional<SessionRow> FindSession(const std::string& id_hash);
    // The sessions of `account` (null: of all), the most recently used first.
    std::vector<SessionRow> ReadSessions(const std::string* account);
    void AddSession(const SessionRow& row);
    // Stores the row's stage, offered secret and proof time; false when the session is gone.
    bool UpdateSession(const SessionRow& row);
    // A store that refuses only loses the note: the session may end a little
    // sooner for being idle.
    void NoteSessionUse(const std::string& id_hash, std::int64_t last_used);
    bool RemoveSession(const std::string& id_hash);
    // Of `account` but `kept_id_hash`; returns how many went.
    std::int64_t RemoveSessionsOf(const std::string& account, const std::string& kept_id_hash);
    // The session of `handle` when it is `account`'s (null: anyone's); returns whose it was.
    std::optional<std::string> RemoveSessionByHandle(const std::string& handle, const std::string* account);
    // Those last used before `idle_before` or started before `started_before`,
    // and then all but the `kept` most recently used.
    void PruneSessions(std::int64_t idle_before, std::int64_t started_before, std::size_t kept);

    // Keeps the challenge of `token`, letting go of those issued before
    // `stale_before` and of all but the `kept` newest.
    void AddPasskeyChallenge(const std::string& token, const PasskeyChallengeRow& row, std::int64_t stale_before,
                             std::size_t kept);
    // The challenge of `token`, which is gone after: only one taker has it.
    std::optional<PasskeyChallengeRow> TakePasskeyChallenge(const std::string& token);

    // Counts a failed sign-in of `subject` (an address, an account) at `now`,
    // from one again when the last was before `forget_before`; keeps the
    // `kept` subjects that failed last, and returns the subject's count.
    std::int64_t CountSignInFailure(const std::string& subject, std::int64_t now, std::int64_t forget_before,
                                    std::size_t kept);
    // Bars `subject` until `until`, unless it is barred longer already.
    void BarSignIn(const std::string& subject, std::int64_t until);
    // Until when `subject` is barred; 0 when it never was.
    std::int64_t SignInBarredUntil(const std::string& subject);
    void ForgetSignInFailures(const std::string& subject);

    // Copies everything this store holds (objects with their versions, the
    // audit records with their chain, History, accounts, second factors,
    // tokens, forwarding progress) into the empty store at `destination`, in
    // one transaction of each, so the copy is of one moment and is whole or
    // absent. Throws std::runtime_error in plain words when `destination`
    // holds anything, when records are still kept aside here, or when either
    // store refuses.
    StoreCopy CopyInto(const StoreAddress& destination);

    // Where the store is, for messages: the file, or the server and database.
    const std::string& Name() const { return name_; }
    StoreAddress::Engine Engine() const { return address_.engine; }

private:
    ConsoleStore(StoreAddress address, int busy_timeout_ms);
    sql::Database& ThreadConnection();
    // Load where each object carries a revision: a decoded form of the stored
    // revision is handed out without reading the text.
    bool LoadRevision(sql::Database& connection, const std::wstring& class_name, const std::wstring& instance_name,
                      const std::string& place, PropertyBag& out);
    class PendingAudit;
    class DecodedCache;

    StoreAddress address_;
    std::string name_;
    std::shared_ptr<PendingAudit> pending_audit_;
    std::shared_ptr<DecodedCache> decoded_cache_;
    int busy_timeout_ms_;
    Declarations declarations_;
    std::uint64_t store_id_;  // tells this store's per-thread connections from another's
};

}  // namespace tessera::host
