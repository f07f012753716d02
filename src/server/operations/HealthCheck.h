#pragma once
// The answer of GET /api/v1/health: does the database answer a trivial statement within the
// deadline? The statement runs on a thread of its own, so a frozen database cannot hold the
// caller longer than the deadline; while one probe is still running, later checks wait for
// that same probe instead of starting more.
#include <chrono>
#include <future>
#include <mutex>
#include <string>

namespace krp::db {
class Database;
}

namespace krp {

struct HealthStatus {
    bool ok = false;
    std::string reason;  // why not, for the 503 answer
};

class HealthCheck {
public:
    explicit HealthCheck(std::chrono::milliseconds deadline = std::chrono::seconds(2)) : deadline_(deadline) {}
    // Waits for a probe still running (it ends with its statement).
    ~HealthCheck() = default;

    // `database` may be null (no connection configured). Blocks at most the deadline.
    HealthStatus check(db::Database* database);

private:
    std::chrono::milliseconds deadline_;
    std::mutex mutex_;
    std::shared_future<std::string> probe_;  // empty text: the database answered
};

}  // namespace krp
