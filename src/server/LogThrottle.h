#pragma once
// A log line for a condition that may repeat many times a second (a refused call, a refused
// session opening): written at most once a minute, with the number of times since.
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace krp {

class LogThrottle {
public:
    // `write` gets the line; `interval` is the least time between two lines.
    explicit LogThrottle(std::function<void(const QString&)> write,
                         std::chrono::steady_clock::duration interval = std::chrono::minutes(1))
        : write_(std::move(write)), interval_(interval)
    {
    }

    // One more occurrence; `line` is written when the last line is older than the interval,
    // followed by how many occurrences it stands for.
    void note(const QString& line)
    {
        std::uint64_t count = 0;
        {
            std::lock_guard lock(mutex_);
            ++unreported_;
            const auto now = std::chrono::steady_clock::now();
            if (written_ && now - lastWritten_ < interval_)
                return;
            written_ = true;
            lastWritten_ = now;
            count = unreported_;
            unreported_ = 0;
        }
        write_(count == 1 ? line : line + QStringLiteral(" (%1 kertaa edellisen ilmoituksen jälkeen)").arg(count));
    }

private:
    const std::function<void(const QString&)> write_;
    const std::chrono::steady_clock::duration interval_;
    std::mutex mutex_;
    bool written_ = false;
    std::chrono::steady_clock::time_point lastWritten_;
    std::uint64_t unreported_ = 0;
};

}  // namespace krp
