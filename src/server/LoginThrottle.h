#pragma once
// Slows down guessing of passwords: after `failures` failed session openings from one client
// address within `window`, that address is locked out for a while, the lock doubling with
// each further lock-out up to `longestLock`. Only failures count, so a fleet of terminals
// behind one address that log in correctly is never slowed; a success clears the address.
// Addresses are counted apart, so one address cannot lock a user out for the others.
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace krp {

struct LoginThrottleOptions {
    unsigned failures = 10;
    std::chrono::seconds window{60};
    std::chrono::seconds firstLock{60};
    std::chrono::seconds longestLock{15 * 60};
};

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit LoginThrottle(LoginThrottleOptions options = {});

    // How long the address must still wait before it may try (whole seconds, rounded up);
    // zero when it may try now.
    std::chrono::seconds retryAfter(const std::string& address, Clock::time_point now = Clock::now());

    // Counts a failed opening. Returns the length of the lock-out this failure starts, or
    // zero when it starts none (to log a lock-out once).
    std::chrono::seconds failed(const std::string& address, Clock::time_point now = Clock::now());

    void succeeded(const std::string& address);

private:
    struct Entry {
        std::deque<Clock::time_point> recentFailures;
        Clock::time_point lockedUntil{};
        std::chrono::seconds nextLock{0};
    };
    void forgetQuietAddresses(Clock::time_point now);

    const LoginThrottleOptions options_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace krp
