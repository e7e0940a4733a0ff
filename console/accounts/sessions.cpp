// Sessions of signed-in administrators, passkey challenges and the slow-down
// of failed sign-ins, as rows of the store.
#include "sessions.h"
#include "console_store.h"
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

// What the store keeps of an id: a copy of the store opens no session.
std::string IdHash(const std::string& id) { return Sha256Hex(id); }

std::int64_t Milliseconds(WallClock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

WallClock::time_point TimeOf(std::int64_t milliseconds) {
    return WallClock::time_point(
        std::chrono::duration_cast<WallClock::duration>(std::chrono::milliseconds(milliseconds)));
}

constexpr const char* kStageNames[] = {"password", "enrolling", "signed-in"};

const char* StageName(SessionStage stage) { return kStageNames[static_cast<int>(stage)]; }

std::optional<SessionStage> StageOf(const std::string& name) {
    for (int stage = 0; stage < static_cast<int>(std::size(kStageNames)); ++stage) {
        if (name == kStageNames[stage]) return static_cast<SessionStage>(stage);
    }
    return std::nullopt;
}

}  // namespace

std::string NewRandomId() {
    unsigned char bytes[kSessionIdBytes] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("the random number generator failed");
    return HexText(bytes, sizeof bytes);
}

SessionTable::SessionTable(std::shared_ptr<host::ConsoleStore> store, SessionLimits limits)
    : store_(std::move(store)), limits_(limits) {
    limits_.max_sessions = std::max<std::size_t>(limits_.max_sessions, 1);
}

std::string SessionTable::Create(SessionOwner owner, WallClock::time_point now, SessionOrigin origin) {
    std::string id = NewRandomId();
    const std::int64_t at = Milliseconds(now);
    store_->PruneSessions(Milliseconds(now - limits_.idle_expiry), Milliseconds(now - limits_.lifetime),
                          limits_.max_sessions - 1);
    store_->AddSession({IdHash(id), NewRandomId(), std::move(owner.account), owner.credential_version,
                        StageName(owner.stage), std::move(owner.offered_secret), Milliseconds(owner.proven_at), at, at,
                        std::move(origin.address), std::move(origin.browser), std::nullopt});
    return id;
}

std::optional<SessionOwner> SessionTable::Touch(const std::string& id, WallClock::time_point now) {
    if (!IsSessionIdShape(id)) return std::nullopt;
    const std::string id_hash = IdHash(id);
    std::optional<host::SessionRow> found = store_->FindSession(id_hash);
    if (!found) return std::nullopt;
    host::SessionRow& row = *found;
    const std::optional<SessionStage> stage = StageOf(row.stage);
    const bool is_held =
        row.holder && !row.holder->is_disabled && row.holder->credential_version == row.credential_version;
    if (!stage || !is_held || IsExpired(row, now)) {
        try {
            store_->RemoveSession(id_hash);
        } catch (const host::StoreRefused&) {
            // It is refused all the same, and removed by a later request or sign-in.
        }
        return std::nullopt;
    }
    if (now - TimeOf(row.last_used) >= kSessionUseNoteInterval) {
        store_->NoteSessionUse(id_hash, Milliseconds(now));
    }
    // A role this version does not know grants the least.
    return SessionOwner{
        std::move(row.account),        row.credential_version, *stage,
        std::move(row.offered_secret), TimeOf(row.proven_at),  RoleOfName(row.holder->role).value_or(Role::kAuditor)};
}

bool SessionTable::Update(const std::string& id, const SessionOwner& owner) {
    host::SessionRow row;
    row.id_hash = IdHash(id);
    row.stage = StageName(owner.stage);
    row.offered_secret = owner.offered_secret;
    row.proven_at = Milliseconds(owner.proven_at);
    return store_->UpdateSession(row);
}

void SessionTable::End(const std::string& id) {
    if (IsSessionIdShape(id)) store_->RemoveSession(IdHash(id));
}

std::size_t SessionTable::EndAllOf(const std::string& account, const std::string& kept_id) {
    return static_cast<std::size_t>(store_->RemoveSessionsOf(account, kept_id.empty() ? "" : IdHash(kept_id)));
}

std::vector<SessionListing> SessionTable::List(const std::string& account, WallClock::time_point now) {
    std::vector<SessionListing> listed;
    for (host::SessionRow& row : store_->ReadSessions(account.empty() ? nullptr : &account)) {
        if (IsExpired(row, now)) continue;
        listed.push_back({std::move(row.handle),
                          std::move(row.account),
                          {std::move(row.address), std::move(row.browser)},
                          TimeOf(row.started),
                          TimeOf(row.last_used)});
    }
    return listed;
}

std::string SessionTable::HandleOf(const std::string& id) {
    if (!IsSessionIdShape(id)) return {};
    std::optional<host::SessionRow> found = store_->FindSession(IdHash(id));
    return found ? std::move(found->handle) : std::string();
}

std::optional<std::string> SessionTable::EndByHandle(const std::string& handle, const std::string& account) {
    if (handle.empty()) return std::nullopt;
    return store_->RemoveSessionByHandle(handle, account.empty() ? nullptr : &account);
}

bool SessionTable::IsExpired(const host::SessionRow& row, WallClock::time_point now) const {
    return now - TimeOf(row.last_used) > limits_.idle_expiry || now - TimeOf(row.started) > limits_.lifetime;
}

ChallengeTable::Issued ChallengeTable::Issue(const std::string& session_id, WallClock::time_point now) {
    Issued issued{NewRandomId(), NewPasskeyChallenge()};
    store_->AddPasskeyChallenge(issued.token,
                                {session_id.empty() ? "" : IdHash(session_id), issued.challenge, Milliseconds(now)},
                                Milliseconds(now - kLifetime), kMaxChallenges);
    return issued;
}

std::optional<std::string> ChallengeTable::Take(const std::string& token, const std::string& session_id,
                                                WallClock::time_point now) {
    std::optional<host::PasskeyChallengeRow> taken = store_->TakePasskeyChallenge(token);
    if (!taken) return std::nullopt;
    const std::string session_hash = session_id.empty() ? "" : IdHash(session_id);
    if (taken->session_hash != session_hash || now - TimeOf(taken->issued) > kLifetime) return std::nullopt;
    return std::move(taken->challenge);
}

std::optional<long> SignInThrottle::RetryAfterSeconds(const std::string& key, WallClock::time_point now) {
    const WallClock::time_point barred_until = TimeOf(store_->SignInBarredUntil(key));
    if (barred_until <= now) return std::nullopt;
    const long seconds = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(barred_until - now).count());
    return std::max(seconds, 1L);
}

void SignInThrottle::RecordFailure(const std::string& key, WallClock::time_point now) {
    const std::int64_t failures =
        store_->CountSignInFailure(key, Milliseconds(now), Milliseconds(now - kForgetAfter), kMaxKeys);
    if (failures < kFreeFailures) return;
    const auto doublings = std::min<std::int64_t>(failures - kFreeFailures, 16);
    const auto delay = std::min<std::chrono::seconds>(kFirstDelay * (1L << doublings), kMaxDelay);
    store_->BarSignIn(key, Milliseconds(now + delay));
}

void SignInThrottle::RecordSuccess(const std::string& key) { store_->ForgetSignInFailures(key); }

}  // namespace tessera::console
