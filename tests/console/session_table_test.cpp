// The sessions of signed-in administrators and the sign-in throttle, on a
// clock the test moves.
#include "sign_in.h"

#include <gtest/gtest.h>

#include <memory>

namespace tessera::console {
namespace {

using std::chrono::seconds;

constexpr seconds kIdleExpiry{600};

std::shared_ptr<const AdminAccount> Account(const char* user_name) {
    auto account = std::make_shared<AdminAccount>();
    account->user_name = user_name;
    return account;
}

TEST(SessionTable, ASessionLivesWhileItIsUsedAndEndsAfterItsIdleTime) {
    SessionTable sessions(kIdleExpiry, 8);
    const auto admin = Account("admin");
    const SteadyClock::time_point start{};
    const std::string id = sessions.Create(admin, start);

    // Each use renews the idle time, so a session in use outlives the expiry.
    EXPECT_EQ(sessions.Touch(id, admin, start + kIdleExpiry), "admin");
    EXPECT_EQ(sessions.Touch(id, admin, start + 2 * kIdleExpiry), "admin");
    EXPECT_EQ(sessions.Touch(id, admin, start + 3 * kIdleExpiry + seconds(1)), std::nullopt) << "idle too long";
    EXPECT_EQ(sessions.Touch(id, admin, start + 3 * kIdleExpiry + seconds(2)), std::nullopt) << "and gone for good";

    const std::string other = sessions.Create(admin, start);
    EXPECT_EQ(sessions.Touch(other, Account("admin"), start), std::nullopt) << "a new password ends it";
    const std::string ended = sessions.Create(admin, start);
    sessions.End(ended);
    EXPECT_EQ(sessions.Touch(ended, admin, start), std::nullopt);
}

TEST(SessionTable, AFullTableEndsTheLeastRecentlyUsedSession) {
    SessionTable sessions(kIdleExpiry, 3);
    const auto admin = Account("admin");
    const SteadyClock::time_point start{};
    const std::string first = sessions.Create(admin, start);
    const std::string second = sessions.Create(admin, start + seconds(1));
    const std::string third = sessions.Create(admin, start + seconds(2));
    ASSERT_TRUE(sessions.Touch(first, admin, start + seconds(3)));  // now the second is the least recent

    const std::string fourth = sessions.Create(admin, start + seconds(4));
    EXPECT_EQ(sessions.Touch(second, admin, start + seconds(5)), std::nullopt);
    for (const std::string& kept : {first, third, fourth}) {
        EXPECT_EQ(sessions.Touch(kept, admin, start + seconds(5)), "admin");
    }
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
