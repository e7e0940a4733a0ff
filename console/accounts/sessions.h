// Sessions of signed-in administrators, the challenges of passkey ceremonies
// and the slow-down of failed sign-ins, kept in the store: every console of
// one store honours the same sessions and counts the same failures.
#pragma once

#include "roles.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessera::host {
class ConsoleStore;
struct SessionRow;
}  // namespace tessera::host

namespace tessera::console {

using SteadyClock = std::chrono::steady_clock;
// The clock of what the store keeps: consoles on several hosts read it alike.
using WallClock = std::chrono::system_clock;

// 32 hexadecimal digits from the system's random number generator.
std::string NewRandomId();

// How recent a proof of the account (password, second factor) must be for a
// change of accounts.
inline constexpr std::chrono::minutes kProofLifetime{5};

struct SessionLimits {
    std::chrono::seconds idle_expiry{30 * 60};
    std::chrono::seconds lifetime{12 * 60 * 60};  // from the sign-in, however busy
    std::size_t max_sessions = 1000;
};

// How far a session's sign-in has come.
enum class SessionStage {
    kPassword,   // the password was right; the second factor is still to come
    kEnrolling,  // signed in where a second factor is required, without one: enrolment only
    kSignedIn,
};

// Whose a session is: the account, and the version of its credentials when
// the session began (a new password or disabling the account ends it).
struct SessionOwner {
    std::string account;
    std::int64_t credential_version = 0;
    SessionStage stage = SessionStage::kSignedIn;
    // The authenticator secret offered to this session for enrolment, until it
    // is confirmed: the secret is never stored before then.
    std::string offered_secret;
    // When its holder last proved to be the account's (a password, a second
    // factor): changes of accounts want that to be recent.
    WallClock::time_point proven_at{};
    // Read by Touch: the account's role as it is now, which counts at once.
    Role role = Role::kAuditor;
};

// Where a session was made, for its account to recognise it.
struct SessionOrigin {
    std::string address;
    std::string browser;  // the User-Agent, shortened
};

// A session as its account (or an administrator) sees it: never its id, a
// bearer's secret, but a handle that names it in a form.
struct SessionListing {
    std::string handle;
    std::string account;
    SessionOrigin origin;
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point last_used;
};

// How often a session's use is written to the store: a request that only
// reads writes nothing more often, so idle times are counted from a use at
// most this much earlier than the last.
inline constexpr std::chrono::minutes kSessionUseNoteInterval{1};

// The sessions in the store, kept under the SHA-256 of their ids. A store
// that refuses throws host::StoreRefused from each of these.
class SessionTable {
public:
    SessionTable(std::shared_ptr<host::ConsoleStore> store, SessionLimits limits);

    // A new random 128-bit id (32 hexadecimal digits). When the table is full
    // the least recently used session ends.
    std::string Create(SessionOwner owner, WallClock::time_point now, SessionOrigin origin = {});

    // The owner of the live session `id`, whose idle time starts again; null
    // for an unknown, expired or malformed id. A session whose account is
    // gone, disabled or given a new password since it began ends here.
    std::optional<SessionOwner> Touch(const std::string& id, WallClock::time_point now);

    // Replaces the session's stage, offered secret and proof time (not its
    // account or credential version); false when it is gone.
    bool Update(const std::string& id, const SessionOwner& owner);

    void End(const std::string& id);
    // Ends every session of `account` but `kept_id`; returns how many ended.
    std::size_t EndAllOf(const std::string& account, const std::string& kept_id = {});

    // The live sessions of `account` (every account's when empty), the most
    // recently used first, and the handle of the session `id`.
    std::vector<SessionListing> List(const std::string& account, WallClock::time_point now);
    std::string HandleOf(const std::string& id);
    // Ends the session of `handle` when it is `account`'s (anyone's when
    // `account` is empty); returns the account it was of, or null.
    std::optional<std::string> EndByHandle(const std::string& handle, const std::string& account);

private:
    bool IsExpired(const host::SessionRow& row, WallClock::time_point now) const;

    std::shared_ptr<host::ConsoleStore> store_;
    SessionLimits limits_;
};

// The challenges of passkey ceremonies under way, each given to one session
// (or to a sign-in that has none yet) and taken back once, within five minutes.
class ChallengeTable {
public:
    static constexpr std::chrono::minutes kLifetime{5};
    static constexpr std::size_t kMaxChallenges = 4096;

    explicit ChallengeTable(std::shared_ptr<host::ConsoleStore> store) : store_(std::move(store)) {}

    struct Issued {
        std::string token;  // names the ceremony in the browser's answer
        std::string challenge;
    };
    Issued Issue(const std::string& session_id, WallClock::time_point now);
    // The challenge of `token` when it was issued to `session_id`; it is gone after.
    std::optional<std::string> Take(const std::string& token, const std::string& session_id, WallClock::time_point now);

private:
    std::shared_ptr<host::ConsoleStore> store_;
};

// Failed sign-ins per key (a client address, an account): the first
// kFreeFailures cost nothing; each later one bars the key for a delay that
// doubles, up to kMaxDelay. Other keys are not affected, and nobody's request
// is held waiting.
class SignInThrottle {
public:
    static constexpr unsigned kFreeFailures = 3;
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kMaxDelay{60};
    // A key without failures for this long starts afresh.
    static constexpr std::chrono::minutes kForgetAfter{15};
    static constexpr std::size_t kMaxKeys = 4096;

    explicit SignInThrottle(std::shared_ptr<host::ConsoleStore> store) : store_(std::move(store)) {}

    // Seconds to wait (at least 1) when `key` is barred now, else null.
    std::optional<long> RetryAfterSeconds(const std::string& key, WallClock::time_point now);
    void RecordFailure(const std::string& key, WallClock::time_point now);
    void RecordSuccess(const std::string& key);

private:
    std::shared_ptr<host::ConsoleStore> store_;
};

}  // namespace tessera::console
