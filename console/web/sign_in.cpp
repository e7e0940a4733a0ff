// Sessions of signed-in administrators and the slow-down of failed sign-ins.
#include "sign_in.h"
#include "hex_text.h"

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
    return HexText(bytes, sizeof bytes, HexCase::kLower);
}

SessionTable::SessionTable(std::chrono::seconds idle_expiry, std::size_t max_sessions)
    : idle_expiry_(idle_expiry), max_sessions_(std::max<std::size_t>(max_sessions, 1)) {}

std::string SessionTable::Create(std::shared_ptr<const AdminAccount> account, SteadyClock::time_point now) {
    std::string id = NewRandomId();
    std::lock_guard<std::mutex> lock(mutex_);
    RemoveExpired(now);
    if (sessions_.size() >= max_sessions_) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.last_used < b.second.last_used;
        });
        sessions_.erase(oldest);
    }
    sessions_[id] = Session{std::move(account), now};
    return id;
}

std::optional<std::string> SessionTable::Touch(const std::string& id,
                                               const std::shared_ptr<const AdminAccount>& current,
                                               SteadyClock::time_point now) {
    if (!IsSessionIdShape(id)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return std::nullopt;
    Session& session = found->second;
    if (now - session.last_used > idle_expiry_ || !current || session.account != current) {
        sessions_.erase(found);
        return std::nullopt;
    }
    session.last_used = now;
    return session.account->user_name;
}

void SessionTable::End(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(id);
}

void SessionTable::RemoveExpired(SteadyClock::time_point now) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        it = now - it->second.last_used > idle_expiry_ ? sessions_.erase(it) : std::next(it);
    }
}

std::optional<long> SignInThrottle::RetryAfterSeconds(const std::string& address, SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = failures_.find(address);
    if (found == failures_.end() || found->second.barred_until <= now) return std::nullopt;
    const auto remaining = found->second.barred_until - now;
    const long seconds = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(remaining).count());
    return std::max(seconds, 1L);
}

void SignInThrottle::RecordFailure(const std::string& address, SteadyClock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Prune(now);
    Failures& failures = failures_[address];
    if (failures.count > 0 && now - failures.last_failure > kForgetAfter) failures = Failures{};
    ++failures.count;
    failures.last_failure = now;
    if (failures.count >= kFreeFailures) {
        const unsigned doublings = std::min(failures.count - kFreeFailures, 16u);
        const auto delay = std::min<std::chrono::seconds>(kFirstDelay * (1L << doublings), kMaxDelay);
        failures.barred_until = now + delay;
    }
}

void SignInThrottle::RecordSuccess(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(address);
}

void SignInThrottle::Prune(SteadyClock::time_point now) {
    if (failures_.size() < kMaxAddresses) return;
    for (auto it = failures_.begin(); it != failures_.end();) {
        it = now - it->second.last_failure > kForgetAfter ? failures_.erase(it) : std::next(it);
    }
    if (failures_.size() >= kMaxAddresses) {
        const auto oldest = std::min_element(failures_.begin(), failures_.end(), [](const auto& a, const auto& b) {
            return a.second.last_failure < b.second.last_failure;
        });
        failures_.erase(oldest);
    }
}

std::string SessionIdFromCookieHeader(const std::string& cookie_header) {
    return CookieValue(cookie_header, kSessionCookieName);
}

std::string CookieValue(const std::string& cookie_header, const std::string& name) {
    const std::string prefix = name + "=";
    std::size_t start = 0;
    while (start < cookie_header.size()) {
        std::size_t end = cookie_header.find(';', start);
        if (end == std::string::npos) end = cookie_header.size();
        std::size_t first = cookie_header.find_first_not_of(' ', start);
        if (first < end && cookie_header.compare(first, prefix.size(), prefix) == 0) {
            std::string value = cookie_header.substr(first + prefix.size(), end - first - prefix.size());
            while (!value.empty() && value.back() == ' ') value.pop_back();
            return value;
        }
        start = end + 1;
    }
    return {};
}

std::string SessionCookie(const std::string& id, bool is_tls) {
    return std::string(kSessionCookieName) + "=" + id + "; HttpOnly; SameSite=Strict; Path=/" +
           (is_tls ? "; Secure" : "");
}

std::string ExpiredSessionCookie(bool is_tls) {
    return std::string(kSessionCookieName) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0" +
           (is_tls ? "; Secure" : "");
}

}  // namespace tessera::console
