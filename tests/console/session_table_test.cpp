// The sessions of signed-in administrators and the sign-in throttle, on a
// clock the test moves.
#include "sessions.h"

#include <gtest/gtest.h>

namespace tessera::console {
namespace {

using std::chrono::seconds;

constexpr SessionLimits kLimits{seconds(600), seconds(3600), 3};

SessionOwner Owner(const char* account, std::int64_t credential_version) {
    return {account, credential_version, SessionStage::kSignedIn, {}, {}};
}

TEST(SessionTable, ASessionLivesWhileItIsUsedUntilItsLifetimeAndEndsAfterItsIdleTime) {
    SessionTable sessions(kLimits);
    const SteadyClock::time_point start{};
    const std::string id = sessions.Create(Owner("admin", 4), start);

    // Each use renews the idle time, so a session in use outlives the expiry, up to its lifetime.
    for (int use = 1; use <= 5; ++use) {
        const std::optional<SessionOwner> owner = sessions.Touch(id, start + use * kLimits.idle_expiry);
        ASSERT_TRUE(owner) << "use " << use;
        EXPECT_EQ(owner->account, "admin");
        EXPECT_EQ(owner->credential_version, 4);
    }
    EXPECT_FALSE(sessions.Touch(id, start + kLimits.lifetime + seconds(1))) << "past its lifetime";

    const std::string idle = sessions.Create(Owner("admin", 4), start);
    EXPECT_FALSE(sessions.Touch(idle, start + kLimits.idle_expiry + seconds(1))) << "idle too long";
    EXPECT_FALSE(sessions.Touch(idle, start)) << "and gone for good";
}

TEST(SessionTable, AFullTableEndsTheLeastRecentlyUsedSessionAndAnAccountsSessionsEndTogether) {
    SessionTable sessions(kLimits);
    const SteadyClock::time_point start{};
    const std::string first = sessions.Create(Owner("admin", 1), start);
    const std::string second = sessions.Create(Owner("admin", 1), start + seconds(1));
    const std::string third = sessions.Create(Owner("bob", 1), start + seconds(2));
    ASSERT_TRUE(sessions.Touch(first, start + seconds(3)));  // now the second is the least recent

    const std::string fourth = sessions.Create(Owner("admin", 1), start + seconds(4));
    EXPECT_FALSE(sessions.Touch(second, start + seconds(5)));
    EXPECT_EQ(sessions.EndAllOf("admin", fourth), 1u);
    EXPECT_FALSE(sessions.Touch(first, start + seconds(5)));
    EXPECT_TRUE(sessions.Touch(fourth, start + seconds(5))) << "the session kept";
    EXPECT_TRUE(sessions.Touch(third, start + seconds(5))) << "another account's";
}

TEST(SignInThrottle, FailuresBarTheirAddressForADoublingWhileAndASuccessForgetsThem) {
    SignInThrottle throttle;
    const SteadyClock::time_point start{};
    for (unsigned failure = 1; failure < SignInThrottle::kFreeFailures; ++failure) {
        throttle.RecordFailure("192.0.2.1", start);
        EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start), std::nullopt) << "free failure " << failure;
    }
    throttle.RecordFailure("192.0.2.1", start);
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start), 1);
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.2", start), std::nullopt) << "another address is not held up";
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start + seconds(1)), std::nullopt) << "only for a while";

    throttle.RecordFailure("192.0.2.1", start + seconds(1));
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start + seconds(1)), 2);
    for (int failure = 0; failure < 20; ++failure) throttle.RecordFailure("192.0.2.1", start + seconds(2));
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start + seconds(2)), SignInThrottle::kMaxDelay.count());

    throttle.RecordSuccess("192.0.2.1");
    throttle.RecordFailure("192.0.2.1", start + seconds(3));
    EXPECT_EQ(throttle.RetryAfterSeconds("192.0.2.1", start + seconds(3)), std::nullopt);
}

}  // namespace
}  // namespace tessera::console
