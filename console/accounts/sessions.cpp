// Sessions of signed-in administrators and the slow-down of failed sign-ins.
#include "sessions.h"
#include "hex_text.h"
#include "passkeys.h"

#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>

namespace tessera::console {
namespace {

constexpr std::size_t kSessionIdBytes = 16;

bool IsSessionIdShape(const std::string& id) {
    return id.size() == 2 * kSessionIdBytes &&
           std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::string NewRandomId() {
    unsigned char bytes[kSessionIdBytes] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("the random number generator failed");
    return HexText(bytes, sizeof bytes);
}

SessionTable::SessionTable(SessionLimits limits) : limits_(limits) {
    limits_.max_sessions = std::max<std::size_t>(limits_.max_sessions, 1);
}

std::string SessionTable::Create(SessionOwner owner, SteadyClock::time_point now, SessionOrigin origin) {
    std::string id = NewRandomId();
    std::string handle = NewRandomId();
    const auto wall_now = std::chrono::system_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    RemoveExpired(now);
    if (sessions_.size() >= limits_.max_sessions) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.last_used < b.second.last_used;
        });
        sessions_.erase(oldest);
    }
    sessions_[id] = Session{std::move(owner), now, now, std::move(handle), std::move(origin), wall_now, wall_now};
    return id;
}

std::optional<SessionOwner> SessionTable::Touch(const std::string& id, SteadyClock::time_point now) {
    if (!IsSessionIdShape(id)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return std::nullopt;
    Session& session = found->second;
    if (IsExpired(session, now)) {
        sessions_.erase(found);
        return std::nullopt;
    }
    session.last_used = now;
    session.last_used_at = std::chrono::system_clock::now();
    return session.owner;
}

bool SessionTable::Update(const std::string& id, const SessionOwner& owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return false;
    found->second.owner.stage = owner.stage;
    found->second.owner.offered_secret = owner.offered_secret;
    found->second.owner.proven_at = owner.proven_at;
    return true;
}

void SessionTable::End(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
}

std::size_t SessionTable::EndAllOf(const std::string& account, const std::string& kept_id) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t ended = 0;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        const bool ends = it->second.owner.account == account && it->first != kept_id;
        ended += ends ? 1 : 0;
        it = ends ? sessions_.erase(it) : std::next(it);
    }
    return ended;
}

std::vector<SessionListing> SessionTable::List(const std::string& account, SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    RemoveExpired(now);
    std::vector<SessionListing> listed;
    for (const auto& [id, session] : sessions_) {
        if (!account.empty() && session.owner.account != account) continue;
        listed.push_back(
            {session.handle, session.owner.account, session.origin, session.started_at, session.last_used_at});
    }
    std::sort(listed.begin(), listed.end(),
              [](const SessionListing& a, const SessionListing& b) { return a.last_used > b.last_used; });
    return listed;
}

std::string SessionTable::HandleOf(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(id);
    return found == sessions_.end() ? std::string() : found->second.handle;
}

std::optional<std::string> SessionTable::EndByHandle(const std::string& handle, const std::string& account) {
    if (handle.empty()) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->second.handle != handle || (!account.empty() && it->second.owner.account != account)) continue;
        std::string owner = it->second.owner.account;
        sessions_.erase(it);
        return owner;
    }
    return std::nullopt;
}

bool SessionTable::IsExpired(const Session& session, SteadyClock::time_point now) const {
    return now - session.last_used > limits_.idle_expiry || now - session.started > limits_.lifetime;
}

void SessionTable::RemoveExpired(SteadyClock::time_point now) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        it = IsExpired(it->second, now) ? sessions_.erase(it) : std::next(it);
    }
}

ChallengeTable::Issued ChallengeTable::Issue(const std::string& session_id, SteadyClock::time_point now) {
    Issued issued{NewRandomId(), NewPasskeyChallenge()};
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        it = now - it->second.issued > kLifetime ? entries_.erase(it) : std::next(it);
    }
    if (entries_.size() >= kMaxChallenges) {
        entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.issued < b.second.issued;
        }));
    }
    entries_[issued.token] = Entry{session_id, issued.challenge, now};
    return issued;
}

std::optional<std::string> ChallengeTable::Take(const std::string& token, const std::string& session_id,
                                                SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(token);
    if (found == entries_.end()) return std::nullopt;
    Entry entry = std::move(found->second);
    entries_.erase(found);
    if (entry.session_id != session_id || now - entry.issued > kLifetime) return std::nullopt;
    return entry.challenge;
}

std::optional<long> SignInThrottle::RetryAfterSeconds(const std::string& key, SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = failures_.find(key);
    if (found == failures_.end() || found->second.barred_until <= now) return std::nullopt;
    const auto remaining = found->second.barred_until - now;
    const long seconds = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(remaining).count());
    return std::max(seconds, 1L);
}

void SignInThrottle::RecordFailure(const std::string& key, SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Prune(now);
    Failures& failures = failures_[key];
    if (failures.count > 0 && now - failures.last_failure > kForgetAfter) failures = Failures{};
    ++failures.count;
    failures.last_failure = now;
    if (failures.count >= kFreeFailures) {
        const unsigned doublings = std::min(failures.count - kFreeFailures, 16u);
        const auto delay = std::min<std::chrono::seconds>(kFirstDelay * (1L << doublings), kMaxDelay);
        failures.barred_until = now + delay;
    }
}

void SignInThrottle::RecordSuccess(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(key);
}

void SignInThrottle::Prune(SteadyClock::time_point now) {
    if (failures_.size() < kMaxKeys) return;
    for (auto it = failures_.begin(); it != failures_.end();) {
        it = now - it->second.last_failure > kForgetAfter ? failures_.erase(it) : std::next(it);
    }
    if (failures_.size() >= kMaxKeys) {
        const auto oldest = std::min_element(failures_.begin(), failures_.end(), [](const auto& a, const auto& b) {
            return a.second.last_failure < b.second.last_failure;
        });
        failures_.erase(oldest);
    }
}

}  // namespace tessera::console
