#pragma once
// The process's counters for GET /metrics: method calls by method and outcome with a latency
// histogram, sessions opened and refused, open client connections, database statements and
// their errors, event-log lines. Lock-free atomics; the hooks at the call sites are one line
// each. The text of the Prometheus exposition format is written by writeExposition().
//
//   metrics::counters().callFinished("Ping", 200, elapsed);
//   metrics::counters().sessionRefused(metrics::SessionRefusal::Credentials);
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krp::metrics {

// How a method call ended, from its HTTP status.
enum class CallOutcome : std::size_t {
    Ok,             // 200
    BadArguments,   // 400, 413, 422: the method was not called
    Unauthorized,   // 401: no such session
    UnknownMethod,  // 404
    Failed,         // 500: the method raised an error
    Refused,        // 429, 503: try again later
    Other,
    Count
};
CallOutcome callOutcome(int httpStatus);
std::string_view callOutcomeName(CallOutcome outcome);

// Why a session was not opened.
enum class SessionRefusal : std::size_t {
    Credentials,  // 401: not the application credentials
    BadRequest,   // 400: the connect properties are not a JSON object of texts
    Access,       // 403: the connect event refused the access code or the user
    Unavailable,  // 503: stopping, database down, too many sessions
    LockedOut,    // 429: the address failed too often lately
    Count
};
std::string_view sessionRefusalName(SessionRefusal reason);

// Why the transport answered a request itself, before the application saw it.
enum class RequestRefusal : std::size_t {
    Malformed,          // 400: not HTTP it can read, or a body that does not unpack
    BodyTooLarge,       // 413: a body over the limit, as sent or unpacked
    HeadTooLarge,       // 431: the head, chunk extensions or trailer fields over the limit
    UnsupportedCoding,  // 415: a Content-Encoding it cannot undo
    BodyMemory,         // 503: request bodies fill their memory, in all or the address's share
    Count
};
std::string_view requestRefusalName(RequestRefusal reason);

// Upper bounds (seconds) of the latency histogram's buckets; +Inf follows.
inline constexpr std::array<double, 12> kLatencyBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                          0.1,   0.25,   0.5,   1.0,  2.5,   10.0};

// Gauges that belong to other owners (the session manager, the connection pool), read at the
// moment of the scrape.
struct ScrapeGauges {
    std::int64_t openSessions = 0;
    bool databaseOpen = false;
    std::int64_t poolConnections = 0;  // open pooled connections, idle or leased
    std::int64_t poolLeased = 0;       // in use by a statement or transaction now
    std::int64_t poolMax = 0;          // the configured limit
};

class Counters {
public:
    Counters();
    ~Counters();
    Counters(const Counters&) = delete;
    Counters& operator=(const Counters&) = delete;

    // The published method names; calls of other names count under method="(other)". Names
    // are fixed the first time; later calls change nothing.
    void declareMethods(const std::vector<std::string>& names);

    void callFinished(std::string_view method, int httpStatus, std::chrono::nanoseconds elapsed);
    void sessionOpened() { sessionsOpened_.fetch_add(1, std::memory_order_relaxed); }
    void sessionRefused(SessionRefusal reason);
    void requestRefused(RequestRefusal reason);
    void connectionOpened() { connections_.fetch_add(1, std::memory_order_relaxed); }
    void connectionClosed() { connections_.fetch_sub(1, std::memory_order_relaxed); }
    void statementFinished(bool failed);
    void logLinesAppended(std::uint64_t count) { logLines_.fetch_add(count, std::memory_order_relaxed); }

    // The exposition text (Prometheus text format 0.0.4).
    std::string writeExposition(const ScrapeGauges& gauges) const;

    std::uint64_t callCount(std::string_view method, CallOutcome outcome) const;
    std::uint64_t statementCount() const { return statements_.load(std::memory_order_relaxed); }
    std::int64_t openConnections() const { return connections_.load(std::memory_order_relaxed); }

private:
    struct MethodSlot;
    struct MethodTable;
    const MethodTable* table() const { return table_.load(std::memory_order_acquire); }
    MethodSlot& slotOf(std::string_view method);

    std::atomic<const MethodTable*> table_{nullptr};
    std::unique_ptr<MethodTable> ownedTable_;
    std::unique_ptr<MethodSlot> other_;
    std::atomic<std::uint64_t> sessionsOpened_{0};
    std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(SessionRefusal::Count)> sessionsRefused_{};
    std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(RequestRefusal::Count)> requestsRefused_{};
    std::atomic<std::int64_t> connections_{0};
    std::atomic<std::uint64_t> statements_{0};
    std::atomic<std::uint64_t> statementErrors_{0};
    std::atomic<std::uint64_t> logLines_{0};
};

// The one set of counters of the process.
Counters& counters();

// Counts one database statement: put on the stack where a statement runs; a statement left by
// an exception counts as failed.
class StatementScope {
public:
    StatementScope() : exceptions_(std::uncaught_exceptions()) {}
    ~StatementScope() { counters().statementFinished(std::uncaught_exceptions() > exceptions_); }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

private:
    int exceptions_;
};

}  // namespace krp::metrics
