#include "server/LoginThrottle.h"

#include <algorithm>
#include <functional>
#include <iterator>

namespace krp {

namespace {
// Past this many addresses, those that are neither locked nor failed lately are forgotten.
constexpr std::size_t kAddressMemory = 10'000;
}  // namespace

LoginThrottle::LoginThrottle(LoginThrottleOptions options) : options_(options) {}

std::chrono::seconds LoginThrottle::retryAfter(const std::string& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(address);
    if (it == entries_.end() || it->second.lockedUntil <= now)
        return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(it->second.lockedUntil - now);
}

std::chrono::seconds LoginThrottle::failed(const std::string& address, const std::optional<std::string>& user,
                                           Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kAddressMemory)
        forgetQuietAddresses(now);
    Entry& e = entries_[address];
    auto& recent = e.recentFailures;
    while (!recent.empty() && now - recent.front().at >= options_.window)
        recent.pop_front();
    recent.push_back({now, user ? std::optional<std::size_t>(std::hash<std::string>{}(*user)) : std::nullopt});
    if (recent.size() < std::max(1u, options_.failures))
        return std::chrono::seconds(0);

    const auto lockOut = std::min(e.nextLock.count() > 0 ? e.nextLock : options_.firstLock, options_.longestLock);
    e.lockedUntil = now + lockOut;
    e.nextLock = std::min(lockOut * 2, options_.longestLock);
    recent.clear();
    return lockOut;
}

void LoginThrottle::succeeded(const std::string& address, const std::string& user)
{
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(address);
    if (it == entries_.end())
        return;
    const std::size_t hash = std::hash<std::string>{}(user);
    auto& recent = it->second.recentFailures;
    recent.erase(std::remove_if(recent.begin(), recent.end(), [&](const Failure& f) { return f.user == hash; }),
                 recent.end());
    // An address never locked and without failures left needs no entry.
    if (recent.empty() && it->second.nextLock.count() == 0)
        entries_.erase(it);
}

void LoginThrottle::forgetQuietAddresses(Clock::time_point now)
{
    for (auto it = entries_.begin(); it != entries_.end();) {
        const Entry& e = it->second;
        const bool quiet = e.lockedUntil + options_.longestLock <= now &&
                           (e.recentFailures.empty() || now - e.recentFailures.back().at >= options_.window);
        it = quiet ? entries_.erase(it) : std::next(it);
    }
}

}  // namespace krp
