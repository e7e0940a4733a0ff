// Every statement the store runs, in one place: the schema, its upgrades and
// the queries. Each is an array of its own, one object in every file, so that
// its address names its prepared form.
#pragma once

#include "console_store.h"

namespace tessera::host::sql {

// Statements are written so that both engines take them; where PostgreSQL
// needs other words, kPostgresTexts below gives them. Parameters are ?N.

// The console's administrators. credential_version grows with every change
// that must end the account's sessions (a new password, disabling).
inline constexpr char kCreateAccounts[] =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " name TEXT PRIMARY KEY NOT NULL, role TEXT NOT NULL, password TEXT NOT NULL,"
    " disabled INTEGER NOT NULL DEFAULT 0, created TEXT NOT NULL, last_sign_in TEXT NOT NULL DEFAULT '',"
    " credential_version INTEGER NOT NULL DEFAULT 1)";
// Each account's second factors: an authenticator's secret with the last
// time step it was used at (no code is taken twice), a recovery code's hash.
inline constexpr char kCreateSecondFactors[] =
    "CREATE TABLE IF NOT EXISTS second_factors ("
    " account TEXT NOT NULL, kind TEXT NOT NULL, id TEXT NOT NULL, secret TEXT NOT NULL, created TEXT NOT NULL,"
    " counter INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (account, kind, id))";
// Automation tokens: the secret's SHA-256 only, never the secret.
inline constexpr char kCreateApiTokens[] =
    "CREATE TABLE IF NOT EXISTS api_tokens ("
    " id TEXT PRIMARY KEY NOT NULL, account TEXT NOT NULL, name TEXT NOT NULL, scope TEXT NOT NULL,"
    " secret_hash TEXT NOT NULL, created TEXT NOT NULL, expires TEXT NOT NULL,"
    " last_used TEXT NOT NULL DEFAULT '', last_address TEXT NOT NULL DEFAULT '')";
// Every audit record waits here, from its own transaction on, until each
// destination it is forwarded to has it; audit_forwarding says how far each
// destination has got (its sent_seq) and its last error.
inline constexpr char kCreateAuditOutbox[] = "CREATE TABLE IF NOT EXISTS audit_outbox (seq INTEGER PRIMARY KEY)";
inline constexpr char kCreateAuditForwarding[] =
    "CREATE TABLE IF NOT EXISTS audit_forwarding ("
    " destination TEXT PRIMARY KEY NOT NULL, sent_seq INTEGER NOT NULL DEFAULT 0, sent_time TEXT NOT NULL DEFAULT '',"
    " error TEXT NOT NULL DEFAULT '', error_time TEXT NOT NULL DEFAULT '')";
// What every console of one store shares so that any of them answers any
// request: the sessions of signed-in administrators, under the SHA-256 of
// their ids (never the ids, which are the cookies' secrets); the challenges
// of passkey ceremonies under way; and failed sign-ins by address and account.
// Times are milliseconds since 1970 on the wall clock, which every console
// reads alike. One text for both engines: BIGINT is an integer to SQLite too.
inline constexpr char kCreateSessions[] =
    "CREATE TABLE IF NOT EXISTS sessions ("
    " id_hash TEXT PRIMARY KEY NOT NULL, handle TEXT NOT NULL UNIQUE, account TEXT NOT NULL,"
    " credential_version BIGINT NOT NULL, stage TEXT NOT NULL, offered_secret TEXT NOT NULL DEFAULT '',"
    " proven_at BIGINT NOT NULL, started BIGINT NOT NULL, last_used BIGINT NOT NULL,"
    " address TEXT NOT NULL DEFAULT '', browser TEXT NOT NULL DEFAULT '')";
inline constexpr char kCreatePasskeyChallenges[] =
    "CREATE TABLE IF NOT EXISTS passkey_challenges ("
    " token TEXT PRIMARY KEY NOT NULL, session_hash TEXT NOT NULL, challenge TEXT NOT NULL, issued BIGINT NOT NULL)";
inline constexpr char kCreateSignInFailures[] =
    "CREATE TABLE IF NOT EXISTS sign_in_failures ("
    " subject TEXT PRIMARY KEY NOT NULL, failures BIGINT NOT NULL, last_failure BIGINT NOT NULL,"
    " barred_until BIGINT NOT NULL DEFAULT 0)";
inline constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS class_declarations ("
    " class TEXT PRIMARY KEY NOT NULL, declaration TEXT NOT NULL)",
    // version grows by one with every write that changes an object's text:
    // a writer that read version N stores only while it is still N.
    "CREATE TABLE IF NOT EXISTS instances ("
    " class TEXT NOT NULL, instance TEXT NOT NULL, properties TEXT NOT NULL, version INTEGER NOT NULL DEFAULT 1,"
    " PRIMARY KEY (class, instance))",
    "CREATE TABLE IF NOT EXISTS audit ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, \"user\" TEXT NOT NULL, client_address TEXT NOT NULL,"
    " page_id TEXT NOT NULL, event_type INTEGER NOT NULL, source_type INTEGER NOT NULL, message TEXT NOT NULL,"
    " chain TEXT)",
    // What the console ran for an audit record and, on the last record of an
    // action, what it changed: a short summary for History to show, and the
    // whole change, which a restore undoes. rolled_back says why the change a
    // record reports was never stored.
    "CREATE TABLE IF NOT EXISTS actions ("
    " audit_seq INTEGER PRIMARY KEY, action TEXT NOT NULL, summary TEXT, changes TEXT, rolled_back TEXT,"
    " channel TEXT, token TEXT)",
    kCreateAccounts,
    kCreateSecondFactors,
    kCreateApiTokens,
    kCreateAuditOutbox,
    kCreateAuditForwarding,
    kCreateSessions,
    kCreatePasskeyChallenges,
    kCreateSignInFailures,
};
// Stores made before rolled-back changes were noted get the column on first open.
inline constexpr char kHasRolledBackColumn[] =
    "SELECT count(*) FROM pragma_table_info('actions') WHERE name = 'rolled_back'";
inline constexpr char kAddRolledBackColumn[] = "ALTER TABLE actions ADD COLUMN rolled_back TEXT";
// And those made before records named their channel get its columns.
inline constexpr char kHasChannelColumn[] = "SELECT count(*) FROM pragma_table_info('actions') WHERE name = 'channel'";
inline constexpr char kAddChannelColumn[] = "ALTER TABLE actions ADD COLUMN channel TEXT";
inline constexpr char kHasTokenColumn[] = "SELECT count(*) FROM pragma_table_info('actions') WHERE name = 'token'";
inline constexpr char kAddTokenColumn[] = "ALTER TABLE actions ADD COLUMN token TEXT";
// And those made before records were chained get the column, and their records their chain values.
inline constexpr char kHasChainColumn[] = "SELECT count(*) FROM pragma_table_info('audit') WHERE name = 'chain'";
inline constexpr char kAddChainColumn[] = "ALTER TABLE audit ADD COLUMN chain TEXT";
// And those made before records were forwarded get the outbox, with every record in it.
inline constexpr char kHasAuditOutboxTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'audit_outbox'";
inline constexpr char kFillAuditOutbox[] = "INSERT OR IGNORE INTO audit_outbox (seq) SELECT seq FROM audit";
inline constexpr char kHasAuditForwardingTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'audit_forwarding'";
// Stores made before there were named accounts get the table on first open.
inline constexpr char kHasAccountsTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'accounts'";
inline constexpr char kHasApiTokensTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'api_tokens'";
// And those made before sessions were kept in the store get their tables.
inline constexpr char kHasSessionsTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'sessions'";
inline constexpr char kHasPasskeyChallengesTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'passkey_challenges'";
inline constexpr char kHasSignInFailuresTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'sign_in_failures'";
// Stores made before objects had versions get the column on first open.
inline constexpr char kHasVersionColumn[] =
    "SELECT count(*) FROM pragma_table_info('instances') WHERE name = 'version'";
inline constexpr char kAddVersionColumn[] = "ALTER TABLE instances ADD COLUMN version INTEGER NOT NULL DEFAULT 1";
inline constexpr char kSelectApiTokens[] =
    "SELECT id, account, name, scope, secret_hash, created, expires, last_used, last_address FROM api_tokens"
    " WHERE (?1 IS NULL OR account = ?1) AND (?2 IS NULL OR id = ?2) ORDER BY account, name";
inline constexpr char kReplaceApiToken[] =
    "INSERT INTO api_tokens (id, account, name, scope, secret_hash, created, expires, last_used, last_address)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT (id) DO UPDATE SET account = ?2, name = ?3,"
    " scope = ?4, secret_hash = ?5, created = ?6, expires = ?7, last_used = ?8, last_address = ?9";
inline constexpr char kDeleteApiToken[] = "DELETE FROM api_tokens WHERE id = ?1";
inline constexpr char kDeleteAccountTokens[] = "DELETE FROM api_tokens WHERE account = ?1";
inline constexpr char kSelectAccounts[] =
    "SELECT name, role, password, disabled, created, last_sign_in, credential_version FROM accounts"
    " WHERE (?1 IS NULL OR name = ?1) ORDER BY name";
inline constexpr char kReplaceAccount[] =
    "INSERT INTO accounts (name, role, password, disabled, created, last_sign_in, credential_version)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (name) DO UPDATE SET role = ?2, password = ?3,"
    " disabled = ?4, created = ?5, last_sign_in = ?6, credential_version = ?7";
// An account's second factors go with it.
inline constexpr char kDeleteAccount[] = "DELETE FROM accounts WHERE name = ?1";
inline constexpr char kDeleteAccountFactors[] = "DELETE FROM second_factors WHERE account = ?1";
inline constexpr char kHasSecondFactorsTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'second_factors'";
inline constexpr char kSelectSecondFactors[] =
    "SELECT account, kind, id, secret, created, counter FROM second_factors WHERE account = ?1 ORDER BY kind, id";
inline constexpr char kFindSecondFactor[] =
    "SELECT account, kind, id, secret, created, counter FROM second_factors WHERE kind = ?1 AND id = ?2";
inline constexpr char kReplaceSecondFactor[] =
    "INSERT INTO second_factors (account, kind, id, secret, created, counter) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
    " ON CONFLICT (account, kind, id) DO UPDATE SET secret = ?4, created = ?5, counter = ?6";
// ?3 NULL: every factor of the kind (?2 NULL: of every kind).
inline constexpr char kDeleteSecondFactors[] =
    "DELETE FROM second_factors WHERE account = ?1 AND (?2 IS NULL OR kind = ?2) AND (?3 IS NULL OR id = ?3)";
#define TESSERA_SESSION_COLUMNS                                                                                  \
  "id_hash, handle, account, credential_version, stage, offered_secret, proven_at, started, last_used, address," \
  " browser"
// By the primary key, with its account as it is now.
inline constexpr char kFindSession[] =
    "SELECT sessions.id_hash, sessions.handle, sessions.account, sessions.credential_version, sessions.stage,"
    " sessions.offered_secret, sessions.proven_at, sessions.started, sessions.last_used, sessions.address,"
    " sessions.browser, accounts.role, accounts.disabled, accounts.credential_version"
    " FROM sessions LEFT JOIN accounts ON accounts.name = sessions.account WHERE sessions.id_hash = ?1";
// The most recently used first.
inline constexpr char kSelectSessions[] = "SELECT " TESSERA_SESSION_COLUMNS
                                          " FROM sessions WHERE ?1 IS NULL OR account = ?1"
                                          " ORDER BY last_used DESC, handle";
inline constexpr char kInsertSession[] =
    "INSERT INTO sessions (" TESSERA_SESSION_COLUMNS ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
#undef TESSERA_SESSION_COLUMNS
inline constexpr char kUpdateSessionStage[] =
    "UPDATE sessions SET stage = ?2, offered_secret = ?3, proven_at = ?4 WHERE id_hash = ?1";
inline constexpr char kNoteSessionUse[] = "UPDATE sessions SET last_used = ?2 WHERE id_hash = ?1";
inline constexpr char kDeleteSession[] = "DELETE FROM sessions WHERE id_hash = ?1";
inline constexpr char kDeleteAccountSessions[] = "DELETE FROM sessions WHERE account = ?1 AND id_hash <> ?2";
inline constexpr char kDeleteSessionByHandle[] =
    "DELETE FROM sessions WHERE handle = ?1 AND (?2 IS NULL OR account = ?2) RETURNING account";
inline constexpr char kDeleteStaleSessions[] = "DELETE FROM sessions WHERE last_used < ?1 OR started < ?2";
inline constexpr char kDeleteLeastRecentSessions[] =
    "DELETE FROM sessions WHERE id_hash NOT IN"
    " (SELECT id_hash FROM sessions ORDER BY last_used DESC, id_hash LIMIT ?1)";
inline constexpr char kInsertPasskeyChallenge[] =
    "INSERT INTO passkey_challenges (token, session_hash, challenge, issued) VALUES (?1, ?2, ?3, ?4)";
// Taken once: whoever deletes the row has it.
inline constexpr char kTakePasskeyChallenge[] =
    "DELETE FROM passkey_challenges WHERE token = ?1 RETURNING session_hash, challenge, issued";
inline constexpr char kDeleteStalePasskeyChallenges[] = "DELETE FROM passkey_challenges WHERE issued < ?1";
inline constexpr char kDeleteLeastRecentPasskeyChallenges[] =
    "DELETE FROM passkey_challenges WHERE token NOT IN"
    " (SELECT token FROM passkey_challenges ORDER BY issued DESC, token LIMIT ?1)";
// One more failure, or the first again when the last was before ?3.
inline constexpr char kCountSignInFailure[] =
    "INSERT INTO sign_in_failures (subject, failures, last_failure) VALUES (?1, 1, ?2) ON CONFLICT (subject)"
    " DO UPDATE SET failures = CASE WHEN sign_in_failures.last_failure < ?3 THEN 1"
    " ELSE sign_in_failures.failures + 1 END, last_failure = ?2 RETURNING failures";
// Another console's later bar stands.
inline constexpr char kBarSignIn[] =
    "UPDATE sign_in_failures SET barred_until = ?2 WHERE subject = ?1 AND barred_until < ?2";
inline constexpr char kSelectSignInBar[] = "SELECT barred_until FROM sign_in_failures WHERE subject = ?1";
inline constexpr char kDeleteSignInFailures[] = "DELETE FROM sign_in_failures WHERE subject = ?1";
inline constexpr char kDeleteStaleSignInFailures[] = "DELETE FROM sign_in_failures WHERE last_failure < ?1";
inline constexpr char kDeleteLeastRecentSignInFailures[] =
    "DELETE FROM sign_in_failures WHERE subject NOT IN"
    " (SELECT subject FROM sign_in_failures ORDER BY last_failure DESC, subject LIMIT ?1)";
inline constexpr char kBegin[] = "BEGIN IMMEDIATE";
inline constexpr char kBeginReading[] = "BEGIN DEFERRED";
// Any statement that reads starts the snapshot of a deferred transaction.
inline constexpr char kStartReading[] = "PRAGMA data_version";
inline constexpr char kCommit[] = "COMMIT";
inline constexpr char kQuickCheck[] = "PRAGMA quick_check";
inline constexpr char kIntegrityCheck[] = "PRAGMA integrity_check";
inline constexpr char kHasEveryTable[] =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('class_declarations', 'actions')";
inline constexpr char kWalMode[] = "PRAGMA journal_mode=WAL";
inline constexpr char kSynchronousFull[] = "PRAGMA synchronous=FULL";
inline constexpr char kCountDeclarations[] = "SELECT count(*) FROM class_declarations";
inline constexpr char kInsertDeclaration[] = "INSERT INTO class_declarations (class, declaration) VALUES (?1, ?2)";
inline constexpr char kSelectDeclarations[] = "SELECT class, declaration FROM class_declarations ORDER BY rowid";
inline constexpr char kSelectInstance[] = "SELECT properties FROM instances WHERE class = ?1 AND instance = ?2";
inline constexpr char kSelectVersion[] = "SELECT version FROM instances WHERE class = ?1 AND instance = ?2";
inline constexpr char kUpdateInstance[] =
    "UPDATE instances SET properties = ?3, version = version + CASE WHEN properties <> ?3 THEN 1 ELSE 0 END"
    " WHERE class = ?1 AND instance = ?2";
inline constexpr char kReplaceInstance[] =
    "INSERT INTO instances (class, instance, properties) VALUES (?1, ?2, ?3) ON CONFLICT (class, instance)"
    " DO UPDATE SET properties = excluded.properties,"
    " version = instances.version + CASE WHEN instances.properties <> excluded.properties THEN 1 ELSE 0 END";
inline constexpr char kDeleteInstance[] = "DELETE FROM instances WHERE class = ?1 AND instance = ?2";
inline constexpr char kListInstances[] =
    "SELECT class, instance, properties FROM instances"
    " WHERE (?1 IS NULL OR class = ?1) AND (?2 IS NULL OR instance = ?2) ORDER BY class, instance";
inline constexpr char kInsertAudit[] =
    "INSERT INTO audit (time, \"user\", client_address, page_id, event_type, source_type, message)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) RETURNING seq";
inline constexpr char kInsertAction[] =
    "INSERT INTO actions (audit_seq, action, rolled_back, channel, token) VALUES (?1, ?2, ?3, ?4, ?5)";
inline constexpr char kInsertOutbox[] = "INSERT INTO audit_outbox (seq) VALUES (?1)";
// The records `?1` has not had yet, oldest first, as kSelectHistory's columns and then the chain value.
inline constexpr char kSelectOutbox[] =
    "SELECT seq, time, \"user\", client_address, page_id, event_type, source_type, message,"
    " coalesce(action, ''), coalesce(summary, ''), coalesce(rolled_back, ''), coalesce(channel, ''),"
    " coalesce(token, ''), coalesce(chain, '')"
    " FROM audit_outbox JOIN audit USING (seq) LEFT JOIN actions ON audit_seq = seq"
    " WHERE seq > coalesce((SELECT sent_seq FROM audit_forwarding WHERE destination = ?1), 0)"
    " ORDER BY seq LIMIT ?2";
inline constexpr char kSelectSentSeq[] = "SELECT sent_seq FROM audit_forwarding WHERE destination = ?1";
inline constexpr char kSetSentSeq[] =
    "INSERT INTO audit_forwarding (destination, sent_seq, sent_time) VALUES (?1, ?2, ?3)"
    " ON CONFLICT (destination) DO UPDATE SET sent_seq = ?2, sent_time = ?3";
inline constexpr char kDeleteSentOutbox[] = "DELETE FROM audit_outbox WHERE seq <= ?1";
inline constexpr char kSetForwardingError[] =
    "INSERT INTO audit_forwarding (destination, error, error_time) VALUES (?1, ?2, ?3)"
    " ON CONFLICT (destination) DO UPDATE SET error = ?2, error_time = ?3";
inline constexpr char kAddDestination[] =
    "INSERT INTO audit_forwarding (destination) VALUES (?1) ON CONFLICT DO NOTHING";
inline constexpr char kSelectDestinations[] = "SELECT destination FROM audit_forwarding";
inline constexpr char kDeleteDestination[] = "DELETE FROM audit_forwarding WHERE destination = ?1";
inline constexpr char kSelectForwarding[] =
    "SELECT destination, sent_seq, sent_time, error, error_time,"
    " (SELECT count(*) FROM audit_outbox WHERE seq > sent_seq) FROM audit_forwarding ORDER BY destination";
inline constexpr char kRecordChanges[] =
    "INSERT INTO actions (audit_seq, action, summary, changes) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (audit_seq) DO UPDATE SET summary = ?3, changes = ?4";
// The records with what their chain values cover, oldest first.
inline constexpr char kSelectChainedAudit[] =
    "SELECT seq, time, \"user\", client_address, page_id, event_type, source_type, message,"
    " coalesce(channel, ''), coalesce(token, ''), coalesce(chain, '')"
    " FROM audit LEFT JOIN actions ON audit_seq = seq ORDER BY seq";
inline constexpr char kSelectChainBefore[] = "SELECT chain FROM audit WHERE seq < ?1 ORDER BY seq DESC LIMIT 1";
inline constexpr char kSelectAuditHead[] = "SELECT seq, coalesce(chain, '') FROM audit ORDER BY seq DESC LIMIT 1";
inline constexpr char kSetAuditChain[] = "UPDATE audit SET chain = ?1 WHERE seq = ?2";
inline constexpr char kSelectAudit[] =
    "SELECT seq, time, \"user\", client_address, page_id, event_type, source_type, message FROM audit ORDER BY seq";
// Newest first. Times are ISO-8601 text, so a prefix such as "2026-12" bounds
// by month: ?3 holds records up to the end of what it names.
inline constexpr char kSelectHistory[] =
    "SELECT seq, time, \"user\", client_address, page_id, event_type, source_type, message,"
    " coalesce(action, ''), coalesce(summary, ''), coalesce(rolled_back, ''), coalesce(channel, ''),"
    " coalesce(token, '')"
    " FROM audit LEFT JOIN actions ON audit_seq = seq"
    " WHERE (?1 IS NULL OR action = ?1) AND (?2 IS NULL OR time >= ?2)"
    " AND (?3 IS NULL OR substr(time, 1, length(?3)) <= ?3) AND (?5 IS NULL OR seq = ?5) AND (?6 IS NULL OR seq < ?6)"
    " ORDER BY seq DESC LIMIT ?4";
inline constexpr char kSelectChangesSince[] =
    "SELECT audit_seq, changes FROM actions WHERE audit_seq >= ?1 AND changes IS NOT NULL ORDER BY audit_seq DESC";

// What a copy of the store takes, table by table in an order that keeps every
// reference whole: each row as it is, nulls as nulls. `types` has a letter
// per column: t for text, i for an integer.
struct CopiedTable {
    const char* name;
    const char* select;
    const char* insert;
    const char* types;
};
inline constexpr CopiedTable kCopiedTables[] = {
    {"class_declarations", kSelectDeclarations, kInsertDeclaration, "tt"},
    {"instances", "SELECT class, instance, properties, version FROM instances ORDER BY class, instance",
     "INSERT INTO instances (class, instance, properties, version) VALUES (?1, ?2, ?3, ?4)", "ttti"},
    {"audit",
     "SELECT seq, time, \"user\", client_address, page_id, event_type, source_type, message, chain FROM audit"
     " ORDER BY seq",
     "INSERT INTO audit (seq, time, \"user\", client_address, page_id, event_type, source_type, message, chain)"
     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
     "ittttiitt"},
    {"actions",
     "SELECT audit_seq, action, summary, changes, rolled_back, channel, token FROM actions ORDER BY audit_seq",
     "INSERT INTO actions (audit_seq, action, summary, changes, rolled_back, channel, token)"
     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
     "itttttt"},
    {"accounts",
     "SELECT name, role, password, disabled, created, last_sign_in, credential_version FROM accounts ORDER BY name",
     "INSERT INTO accounts (name, role, password, disabled, created, last_sign_in, credential_version)"
     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
     "tttitti"},
    {"second_factors",
     "SELECT account, kind, id, secret, created, counter FROM second_factors ORDER BY account, kind, id",
     "INSERT INTO second_factors (account, kind, id, secret, created, counter) VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
     "ttttti"},
    {"api_tokens",
     "SELECT id, account, name, scope, secret_hash, created, expires, last_used, last_address FROM api_tokens"
     " ORDER BY id",
     "INSERT INTO api_tokens (id, account, name, scope, secret_hash, created, expires, last_used, last_address)"
     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
     "ttttttttt"},
    {"audit_outbox", "SELECT seq FROM audit_outbox ORDER BY seq", kInsertOutbox, "i"},
    {"audit_forwarding",
     "SELECT destination, sent_seq, sent_time, error, error_time FROM audit_forwarding ORDER BY destination",
     "INSERT INTO audit_forwarding (destination, sent_seq, sent_time, error, error_time) VALUES (?1, ?2, ?3, ?4, ?5)",
     "tittt"},
};
// A store that holds anything at all.
inline constexpr char kCountHeldRows[] =
    "SELECT (SELECT count(*) FROM class_declarations) + (SELECT count(*) FROM instances) +"
    " (SELECT count(*) FROM audit) + (SELECT count(*) FROM accounts) + (SELECT count(*) FROM api_tokens)";

// PostgreSQL. Text is compared byte by byte (COLLATE "C"), as SQLite does:
// times are ISO-8601 text, and a locale's collation would order them by
// their digits alone. Every object carries a revision from one sequence, so
// no two texts of it ever share one (not even one rolled back): a console
// that holds a decoded object of revision R may hand it out while the row's
// revision is still R, whichever console wrote it.
inline constexpr const char* kPostgresSchema[] = {
    "CREATE TABLE IF NOT EXISTS class_declarations ("
    " position BIGINT GENERATED ALWAYS AS IDENTITY, class TEXT COLLATE \"C\" PRIMARY KEY, declaration TEXT NOT NULL)",
    "CREATE SEQUENCE IF NOT EXISTS instance_revisions",
    "CREATE TABLE IF NOT EXISTS instances ("
    " class TEXT COLLATE \"C\" NOT NULL, instance TEXT COLLATE \"C\" NOT NULL, properties TEXT NOT NULL,"
    " version BIGINT NOT NULL DEFAULT 1, revision BIGINT NOT NULL DEFAULT nextval('instance_revisions'),"
    " PRIMARY KEY (class, instance))",
    // A hand edit gets a revision of its own too.
    "CREATE OR REPLACE FUNCTION next_instance_revision() RETURNS trigger LANGUAGE plpgsql AS"
    " 'BEGIN IF NEW.properties IS DISTINCT FROM OLD.properties THEN"
    " NEW.revision := nextval(''instance_revisions''); END IF; RETURN NEW; END'",
    "CREATE OR REPLACE TRIGGER instance_revision BEFORE UPDATE ON instances"
    " FOR EACH ROW EXECUTE FUNCTION next_instance_revision()",
    // Whoever changed it, console or hand; delivered at commit, never for a rollback.
    "CREATE OR REPLACE FUNCTION announce_instance_change() RETURNS trigger LANGUAGE plpgsql AS"
    " 'BEGIN IF TG_OP = ''DELETE'' THEN"
    " PERFORM pg_notify(''" TESSERA_POSTGRES_CHANGES_CHANNEL
    "'', OLD.class || ''/'' || OLD.instance); RETURN OLD;"
    " END IF; IF TG_OP = ''INSERT'' OR NEW.properties IS DISTINCT FROM OLD.properties THEN"
    " PERFORM pg_notify(''" TESSERA_POSTGRES_CHANGES_CHANNEL
    "'', NEW.class || ''/'' || NEW.instance);"
    " END IF; RETURN NEW; END'",
    "CREATE OR REPLACE TRIGGER instance_announcement AFTER INSERT OR UPDATE OR DELETE ON instances"
    " FOR EACH ROW EXECUTE FUNCTION announce_instance_change()",
    "CREATE TABLE IF NOT EXISTS audit ("
    " seq BIGINT PRIMARY KEY, time TEXT COLLATE \"C\" NOT NULL, \"user\" TEXT NOT NULL,"
    " client_address TEXT NOT NULL, page_id TEXT NOT NULL, event_type BIGINT NOT NULL,"
    " source_type BIGINT NOT NULL, message TEXT NOT NULL, chain TEXT)",
    "CREATE TABLE IF NOT EXISTS actions ("
    " audit_seq BIGINT PRIMARY KEY, action TEXT COLLATE \"C\" NOT NULL, summary TEXT, changes TEXT,"
    " rolled_back TEXT, channel TEXT, token TEXT)",
    "CREATE TABLE IF NOT EXISTS accounts ("
    " name TEXT COLLATE \"C\" PRIMARY KEY, role TEXT NOT NULL, password TEXT NOT NULL,"
    " disabled BIGINT NOT NULL DEFAULT 0, created TEXT NOT NULL, last_sign_in TEXT NOT NULL DEFAULT '',"
    " credential_version BIGINT NOT NULL DEFAULT 1)",
    "CREATE TABLE IF NOT EXISTS second_factors ("
    " account TEXT COLLATE \"C\" NOT NULL, kind TEXT COLLATE \"C\" NOT NULL, id TEXT COLLATE \"C\" NOT NULL,"
    " secret TEXT NOT NULL, created TEXT NOT NULL, counter BIGINT NOT NULL DEFAULT 0, PRIMARY KEY (account, kind, id))",
    "CREATE TABLE IF NOT EXISTS api_tokens ("
    " id TEXT COLLATE \"C\" PRIMARY KEY, account TEXT COLLATE \"C\" NOT NULL, name TEXT COLLATE \"C\" NOT NULL,"
    " scope TEXT NOT NULL, secret_hash TEXT NOT NULL, created TEXT NOT NULL, expires TEXT NOT NULL,"
    " last_used TEXT NOT NULL DEFAULT '', last_address TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS audit_outbox (seq BIGINT PRIMARY KEY)",
    "CREATE TABLE IF NOT EXISTS audit_forwarding ("
    " destination TEXT COLLATE \"C\" PRIMARY KEY, sent_seq BIGINT NOT NULL DEFAULT 0,"
    " sent_time TEXT NOT NULL DEFAULT '', error TEXT NOT NULL DEFAULT '', error_time TEXT NOT NULL DEFAULT '')",
    kCreateSessions,
    kCreatePasskeyChallenges,
    kCreateSignInFailures,
};
inline constexpr char kSelectRevision[] = "SELECT revision FROM instances WHERE class = ?1 AND instance = ?2";
// A page reads them all at once: one round trip, not one per object it shows.
inline constexpr char kSelectEveryStamp[] = "SELECT class, instance, revision, version FROM instances";
inline constexpr char kSelectRevisionAndText[] =
    "SELECT revision, properties FROM instances WHERE class = ?1 AND instance = ?2";

// The statements PostgreSQL takes in other words, by the constant they stand for.
struct PostgresText {
    const char* sqlite;
    const char* postgresql;
};
inline constexpr PostgresText kPostgresTexts[] = {
    {kHasEveryTable,
     "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema()"
     " AND table_name IN ('class_declarations', 'actions')"},
    {kSelectDeclarations, "SELECT class, declaration FROM class_declarations ORDER BY position"},
    // Writers hold kWriterLock, so the next seq is one more than the last:
    // the chain needs them without gaps, which a sequence does not promise.
    {kInsertAudit,
     "INSERT INTO audit (seq, time, \"user\", client_address, page_id, event_type, source_type, message)"
     " VALUES ((SELECT coalesce(max(seq), 0) + 1 FROM audit), ?1, ?2, ?3, ?4, ?5, ?6, ?7) RETURNING seq"},
};

}  // namespace tessera::host::sql
