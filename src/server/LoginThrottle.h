#pragma once
// Slows down guessing of passwords: after `failures` failed session openings from one client
// address within `window`, that address is locked out for a while, the lock doubling with
// each further lock-out up to `longestLock`. Only failures that the client's own credentials
// caused are counted, so a fleet of terminals behind one address that log in correctly is never
// slowed. A success clears only what it proves: the failures of that user from that address;
// those of other users, and the doubling, stay. Failures without a user (wrong application
// credentials) are cleared by none. Addresses are counted apart, so one address cannot lock a
// user out for the others.
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
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

    // Counts a failed opening by `user` (none: a failure that names no user). Returns the
    // length of the lock-out this failure starts, or zero when it starts none (to log a
    // lock-out once).
    std::chrono::seconds failed(const std::string& address, const std::optional<std::string>& user,
                                Clock::time_point now = Clock::now());

    // `user` opened a session from `address`: its failures there are forgotten.
    void succeeded(const std::string& address, const std::string& user);

private:
    struct Failure {
        Clock::time_point at;
        std::optional<std::size_t> user;  // the user name's hash: names may be long
    };
    struct Entry {
        std::deque<Failure> recentFailures;
        Clock::time_point lockedUntil{};
        std::chrono::seconds nextLock{0};
    };
    void forgetQuietAddresses(Clock::time_point now);

    const LoginThrottleOptions options_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace krp
