// Guessing from one address is slowed down, the lock doubling; nothing else is.
#include "server/LoginThrottle.h"

#include <gtest/gtest.h>

namespace krp {
namespace {

using namespace std::chrono_literals;
using Clock = LoginThrottle::Clock;

TEST(LoginThrottle, TenFailuresWithinAMinuteLockTheAddressWithADoublingDelay)
{
    LoginThrottle throttle;
    const Clock::time_point t0{};
    const std::string a = "10.0.0.1";
    Clock::time_point t = t0;
    std::vector<long> locks;
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(throttle.failed(a, std::nullopt, t + std::chrono::seconds(i)).count(), 0) << round << "/" << i;
        const auto lock = throttle.failed(a, std::nullopt, t + 9s);
        locks.push_back(lock.count());
        EXPECT_EQ(throttle.retryAfter(a, t + 9s), lock);
        EXPECT_EQ(throttle.retryAfter(a, t + 9s + lock - 500ms).count(), 1) << "rounded up";
        EXPECT_EQ(throttle.retryAfter(a, t + 9s + lock).count(), 0);
        t += 9s + lock;
    }
    EXPECT_EQ(locks, (std::vector<long>{60, 120, 240, 480, 900, 900}));
}

TEST(LoginThrottle, OnlyFailuresWithinTheWindowCountAndOtherAddressesAreApart)
{
    LoginThrottle throttle;
    const Clock::time_point t0{};
    // Ten failures spread over more than a minute: never nine within the window before it.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(throttle.failed("a", std::nullopt, t0 + std::chrono::seconds(7 * i)).count(), 0) << i;
    for (int i = 0; i < 10; ++i)
        throttle.failed("b", "matti", t0);
    EXPECT_GT(throttle.retryAfter("b", t0).count(), 0);
    EXPECT_EQ(throttle.retryAfter("a", t0).count(), 0);
    EXPECT_EQ(throttle.retryAfter("c", t0).count(), 0);
}

TEST(LoginThrottle, ASuccessClearsOnlyThatUsersFailuresFromThatAddress)
{
    LoginThrottle throttle;
    const Clock::time_point t0{};
    // A user who mistypes nine times and then logs in is never slowed.
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(throttle.failed("a", "matti", t0).count(), 0) << round << "/" << i;
        throttle.succeeded("a", "matti");
    }
    // Another user's success clears nothing of matti's, nor of wrong application credentials
    // (which name no user): the tenth failure locks the address.
    for (int i = 0; i < 5; ++i)
        throttle.failed("a", "matti", t0);
    for (int i = 0; i < 4; ++i)
        throttle.failed("a", std::nullopt, t0);
    throttle.succeeded("a", "liisa");
    throttle.succeeded("a", "");
    EXPECT_EQ(throttle.failed("a", "matti", t0).count(), 60);
    // Nor matti's success from another address.
    for (int i = 0; i < 9; ++i)
        throttle.failed("b", "matti", t0);
    throttle.succeeded("c", "matti");
    EXPECT_EQ(throttle.failed("b", "matti", t0).count(), 60);
}

TEST(LoginThrottle, ASuccessDoesNotResetTheDoublingOfTheAddress)
{
    LoginThrottle throttle;
    Clock::time_point t{};
    for (int i = 0; i < 10; ++i)
        throttle.failed("a", "matti", t);
    t += 60s;
    throttle.succeeded("a", "liisa");
    throttle.succeeded("a", "matti");
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(throttle.failed("a", "matti", t).count(), 0);
    EXPECT_EQ(throttle.failed("a", "matti", t).count(), 120);
}

}  // namespace
}  // namespace krp
