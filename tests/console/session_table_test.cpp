// The sessions of signed-in administrators, the passkey challenges and the
// sign-in throttle, on a clock the test moves, in a real store of each
// engine. Two tables on one store stand for two consoles behind a balancer.
#include "console_store.h"
#include "postgres_server.h"
#include "sessions.h"
#include "temp_folder.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <functional>

namespace tessera::console {
namespace {

using std::chrono::seconds;
using Engine = host::StoreAddress::Engine;

constexpr SessionLimits kLimits{seconds(600), seconds(3600), 3};
// A moment far from 1970, as the store's times are.
const WallClock::time_point kStart = WallClock::time_point{} + std::chrono::hours(24 * 365 * 56);

SessionOwner Owner(const char* account, std::int64_t credential_version) {
    return {account, credential_version, SessionStage::kSignedIn, {}, {}};
}

class SharedSessionsTest : public ::testing::TestWithParam<Engine> {
protected:
    SharedSessionsTest() {
        const std::string url = GetParam() == Engine::kSqlite ? "sqlite:" + (folder_.path() / "store.db").string()
                                                              : test::PostgresServer::Shared().CreateDatabase();
        const host::StoreAddress address = host::ParseStoreAddress(url, folder_.path());
        first_ = host::ConsoleStore::Open(address, test::ResourceDir());
        second_ = host::ConsoleStore::Open(address, test::ResourceDir());
        for (const char* name : {"admin", "bob"}) PutAccount(name, "administrator", false, 1);
    }

    void PutAccount(const char* name, const char* role, bool is_disabled, std::int64_t credential_version) {
        ASSERT_TRUE(
            first_->PutAccount({name, role, "hash", is_disabled, "2026-12-09T00:00:00Z", "", credential_version}));
    }

    test::TempFolder folder_;
    std::shared_ptr<host::ConsoleStore> first_;
    std::shared_ptr<host::ConsoleStore> second_;
};

INSTANTIATE_TEST_SUITE_P(Engines, SharedSessionsTest, ::testing::Values(Engine::kSqlite, Engine::kPostgresql),
                         [](const ::testing::TestParamInfo<Engine>& engine) {
                             return engine.param == Engine::kSqlite ? "SQLite" : "PostgreSQL";
                         });

TEST_P(SharedSessionsTest, ASessionLivesWhileItIsUsedOnEitherConsoleUntilItsLifetimeAndEndsAfterItsIdleTime) {
    SessionTable one(first_, kLimits);
    SessionTable other(second_, kLimits);
    SessionOwner owner = Owner("admin", 1);
    owner.stage = SessionStage::kPassword;
    owner.offered_secret = "JBSWY3DPEHPK3PXP";
    const std::string id = one.Create(owner, kStart, {"192.0.2.7", "Firefox"});

    // Each use renews the idle time, wherever it lands, so a session in use
    // outlives the expiry, up to its lifetime.
    for (int use = 1; use <= 5; ++use) {
        SessionTable& table = use % 2 == 0 ? one : other;
        const std::optional<SessionOwner> found = table.Touch(id, kStart + use * kLimits.idle_expiry);
        ASSERT_TRUE(found) << "use " << use;
        EXPECT_EQ(found->account, "admin");
        EXPECT_EQ(found->credential_version, 1);
        EXPECT_EQ(found->role, Role::kAdministrator);
        EXPECT_EQ(found->stage, SessionStage::kPassword);
        EXPECT_EQ(found->offered_secret, "JBSWY3DPEHPK3PXP");
    }
    owner.stage = SessionStage::kSignedIn;
    owner.offered_secret.clear();
    owner.proven_at = kStart + seconds(30);
    ASSERT_TRUE(other.Update(id, owner));
    const std::optional<SessionOwner> updated = one.Touch(id, kStart + 5 * kLimits.idle_expiry);
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->stage, SessionStage::kSignedIn);
    EXPECT_EQ(updated->offered_secret, "");
    EXPECT_EQ(updated->proven_at, kStart + seconds(30));
    EXPECT_FALSE(other.Touch(id, kStart + kLimits.lifetime + seconds(1))) << "past its lifetime";

    const std::string idle = one.Create(Owner("admin", 1), kStart);
    EXPECT_FALSE(other.Touch(idle, kStart + kLimits.idle_expiry + seconds(1))) << "idle too long";
    EXPECT_FALSE(one.Touch(idle, kStart)) << "and gone for good";
    EXPECT_FALSE(one.Update(idle, owner));

    // The store holds no id: a copy of it opens no session.
    for (const host::SessionRow& row : first_->ReadSessions(nullptr)) {
        EXPECT_NE(row.id_hash, id);
        EXPECT_NE(row.id_hash, idle);
        EXPECT_EQ(row.id_hash.size(), 64u);
    }
}

TEST_P(SharedSessionsTest, ASessionEndsWithItsAccountsCredentialsAndItsAccountsRoleCountsAtOnce) {
    SessionTable sessions(first_, kLimits);
    struct Change {
        const char* what;
        std::function<void()> make;
        bool ends;
    };
    const Change changes[] = {
        {"a new role", [&] { PutAccount("bob", "editor", false, 1); }, false},
        {"disabled", [&] { PutAccount("bob", "editor", true, 1); }, true},
        {"enabled again", [&] { PutAccount("bob", "editor", false, 1); }, false},
        {"a new password", [&] { PutAccount("bob", "editor", false, 2); }, true},
        {"removed", [&] { first_->RemoveAccount("bob"); }, true},
    };
    for (const Change& change : changes) {
        const std::string id = sessions.Create(Owner("bob", 1), kStart);
        change.make();
        const std::optional<SessionOwner> owner = sessions.Touch(id, kStart);
        EXPECT_EQ(owner.has_value(), !change.ends) << change.what;
        if (owner) {
            EXPECT_EQ(owner->role, Role::kEditor) << change.what;
        } else {
            EXPECT_EQ(sessions.HandleOf(id), "") << change.what << ": the session is gone";
        }
        PutAccount("bob", "administrator", false, 1);
        EXPECT_EQ(sessions.Touch(id, kStart).has_value(), !change.ends) << change.what << ", then undone";
    }
}

TEST_P(SharedSessionsTest, AUseIsWrittenAtMostOnceAMinute) {
    SessionTable one(first_, kLimits);
    const std::string id = one.Create(Owner("admin", 1), kStart);
    const auto last_used = [&] { return first_->ReadSessions(nullptr).front().last_used; };
    const std::int64_t created = last_used();
    ASSERT_TRUE(one.Touch(id, kStart + kSessionUseNoteInterval - seconds(1)));
    EXPECT_EQ(last_used(), created) << "a read within the minute writes nothing";
    ASSERT_TRUE(one.Touch(id, kStart + kSessionUseNoteInterval));
    EXPECT_EQ(last_used(), created + std::chrono::milliseconds(kSessionUseNoteInterval).count());
}

TEST_P(SharedSessionsTest, AFullTableEndsTheLeastRecentlyUsedSessionAndAnAccountsSessionsEndTogether) {
    SessionTable one(first_, kLimits);
    SessionTable other(second_, kLimits);
    const std::string first = one.Create(Owner("admin", 1), kStart, {"192.0.2.1", "Firefox"});
    const std::string second = other.Create(Owner("admin", 1), kStart + seconds(1));
    const std::string third = one.Create(Owner("bob", 1), kStart + seconds(2));
    ASSERT_TRUE(other.Touch(first, kStart + seconds(63)));  // now the second is the least recent

    const std::string fourth = other.Create(Owner("admin", 1), kStart + seconds(64));
    EXPECT_FALSE(one.Touch(second, kStart + seconds(65)));

    const std::vector<SessionListing> listed = one.List("admin", kStart + seconds(65));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].handle, other.HandleOf(fourth)) << "the most recently used first";
    EXPECT_EQ(listed[1].handle, one.HandleOf(first));
    EXPECT_EQ(listed[1].origin.address, "192.0.2.1");
    EXPECT_EQ(listed[1].origin.browser, "Firefox");
    EXPECT_EQ(listed[1].started, kStart);
    EXPECT_EQ(one.List({}, kStart + seconds(65)).size(), 3u);

    EXPECT_EQ(other.EndAllOf("admin", fourth), 1u);
    EXPECT_FALSE(one.Touch(first, kStart + seconds(65)));
    EXPECT_TRUE(one.Touch(fourth, kStart + seconds(65))) << "the session kept";
    EXPECT_TRUE(other.Touch(third, kStart + seconds(65))) << "another account's";

    EXPECT_EQ(one.EndByHandle(one.HandleOf(third), "admin"), std::nullopt) << "not admin's to end";
    EXPECT_EQ(other.EndByHandle(one.HandleOf(third), {}), "bob");
    EXPECT_FALSE(one.Touch(third, kStart + seconds(65)));
    other.End(fourth);
    EXPECT_FALSE(one.Touch(fourth, kStart + seconds(65)));
}

TEST_P(SharedSessionsTest, AChallengeIsTakenOnceByTheSessionItWasIssuedToWithinItsLifetime) {
    SessionTable sessions(first_, kLimits);
    ChallengeTable one(first_);
    ChallengeTable other(second_);
    const std::string session = sessions.Create(Owner("admin", 1), kStart);

    const ChallengeTable::Issued issued = one.Issue(session, kStart);
    EXPECT_EQ(other.Take(issued.token, session, kStart + seconds(1)), issued.challenge) << "on the other console";
    EXPECT_EQ(one.Take(issued.token, session, kStart + seconds(1)), std::nullopt) << "only once";

    const ChallengeTable::Issued someone_elses = one.Issue(session, kStart);
    EXPECT_EQ(other.Take(someone_elses.token, {}, kStart), std::nullopt) << "not a sign-in's";
    EXPECT_EQ(one.Take(someone_elses.token, session, kStart), std::nullopt) << "and gone after";

    const ChallengeTable::Issued sign_in = other.Issue({}, kStart);
    EXPECT_EQ(one.Take(sign_in.token, {}, kStart + ChallengeTable::kLifetime), sign_in.challenge);
    const ChallengeTable::Issued late = other.Issue({}, kStart);
    EXPECT_EQ(one.Take(late.token, {}, kStart + ChallengeTable::kLifetime + seconds(1)), std::nullopt);
}

TEST_P(SharedSessionsTest, FailuresOnEitherConsoleBarTheirAddressForADoublingWhileAndASuccessForgetsThem) {
    SignInThrottle one(first_);
    SignInThrottle other(second_);
    for (unsigned failure = 1; failure < SignInThrottle::kFreeFailures; ++failure) {
        (failure % 2 == 0 ? one : other).RecordFailure("192.0.2.1", kStart);
        EXPECT_EQ(one.RetryAfterSeconds("192.0.2.1", kStart), std::nullopt) << "free failure " << failure;
    }
    one.RecordFailure("192.0.2.1", kStart);
    EXPECT_EQ(other.RetryAfterSeconds("192.0.2.1", kStart), 1) << "counted across the consoles";
    EXPECT_EQ(other.RetryAfterSeconds("192.0.2.2", kStart), std::nullopt) << "another address is not held up";
    EXPECT_EQ(other.RetryAfterSeconds("192.0.2.1", kStart + seconds(1)), std::nullopt) << "only for a while";

    other.RecordFailure("192.0.2.1", kStart + seconds(1));
    EXPECT_EQ(one.RetryAfterSeconds("192.0.2.1", kStart + seconds(1)), 2);
    for (int failure = 0; failure < 20; ++failure) one.RecordFailure("192.0.2.1", kStart + seconds(2));
    EXPECT_EQ(other.RetryAfterSeconds("192.0.2.1", kStart + seconds(2)), SignInThrottle::kMaxDelay.count());

    other.RecordSuccess("192.0.2.1");
    one.RecordFailure("192.0.2.1", kStart + seconds(3));
    EXPECT_EQ(one.RetryAfterSeconds("192.0.2.1", kStart + seconds(3)), std::nullopt);

    // Failures long ago start afresh.
    one.RecordFailure("192.0.2.3", kStart);
    one.RecordFailure("192.0.2.3", kStart);
    const WallClock::time_point later = kStart + SignInThrottle::kForgetAfter + seconds(1);
    other.RecordFailure("192.0.2.3", later);
    EXPECT_EQ(one.RetryAfterSeconds("192.0.2.3", later), std::nullopt);
}

}  // namespace
}  // namespace tessera::console
