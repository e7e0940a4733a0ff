// Sessions of signed-in administrators and the slow-down of failed sign-ins.
#pragma once

#include "admin_account.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace tessera::console {

using SteadyClock = std::chrono::steady_clock;

// 32 hexadecimal digits from the system's random number generator.
std::string NewRandomId();

inline constexpr char kSessionCookieName[] = "tessera_session";

// Sessions live in memory only: a restart signs everybody out.
class SessionTable {
public:
    SessionTable(std::chrono::seconds idle_expiry, std::size_t max_sessions);

    // A new random 128-bit id (32 hexadecimal digits) for `account`. When the
    // table is full the least recently used session ends.
    std::string Create(std::shared_ptr<const AdminAccount> account, SteadyClock::time_point now);

    // The user name of the live session `id` and renews its idle time; null for
    // an unknown, idle-expired, or malformed id, and for a session made with an
    // account that has changed since (a new password signs everybody out).
    std::optional<std::string> Touch(const std::string& id, const std::shared_ptr<const AdminAccount>& current,
                                     SteadyClock::time_point now);

    void End(const std::string& id);

private:
    struct Session {
        std::shared_ptr<const AdminAccount> account;
        SteadyClock::time_point last_used;
    };
    void RemoveExpired(SteadyClock::time_point now);

    std::chrono::seconds idle_expiry_;
    std::size_t max_sessions_;
    std::mutex mutex_;
    std::unordered_map<std::string, Session> sessions_;
};

// Failed sign-ins per client address: the first kFreeFailures cost nothing;
// each later one bars the address for a delay that doubles, up to kMaxDelay.
// Other addresses are not affected, and nobody's request is held waiting.
class SignInThrottle {
public:
    static constexpr unsigned kFreeFailures = 3;
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kMaxDelay{60};
    // An address without failures for this long starts afresh.
    static constexpr std::chrono::minutes kForgetAfter{15};
    static constexpr std::size_t kMaxAddresses = 4096;

    // Seconds to wait (at least 1) when `address` is barred now, else null.
    std::optional<long> RetryAfterSeconds(const std::string& address, SteadyClock::time_point now);
    void RecordFailure(const std::string& address, SteadyClock::time_point now);
    void RecordSuccess(const std::string& address);

private:
    struct Failures {
        unsigned count = 0;
        SteadyClock::time_point last_failure;
        SteadyClock::time_point barred_until;
    };
    void Prune(SteadyClock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Failures> failures_;
};

// The value of the session cookie in a Cookie request header, or empty.
std::string SessionIdFromCookieHeader(const std::string& cookie_header);
// The value of the cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& cookie_header, const std::string& name);

// Set-Cookie values that start and end the session.
// Secure (sent over HTTPS only) when the console speaks TLS.
std::string SessionCookie(const std::string& id, bool is_tls);
std::string ExpiredSessionCookie(bool is_tls);

}  // namespace tessera::console
