#include "metrics/Metrics.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <unordered_map>

namespace krp::metrics {

namespace {

constexpr std::size_t kOutcomes = static_cast<std::size_t>(CallOutcome::Count);
constexpr std::size_t kBuckets = kLatencyBounds.size() + 1;  // the last one is +Inf
constexpr std::string_view kOtherMethod = "(other)";

std::uint64_t load(const std::atomic<std::uint64_t>& a)
{
    return a.load(std::memory_order_relaxed);
}

// A label value with \, " and line breaks escaped as the text format asks.
std::string labelValue(std::string_view v)
{
    std::string out;
    out.reserve(v.size());
    for (const char c : v) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// The shortest text that reads back as the same double ("0.0025", not "0.0025000000000000001").
std::string number(double v)
{
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

void header(std::string& out, std::string_view name, std::string_view type, std::string_view help)
{
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void sample(std::string& out, std::string_view name, std::string_view labels, std::string_view value)
{
    out.append(name);
    if (!labels.empty())
        out.append("{").append(labels).append("}");
    out.append(" ").append(value).append("\n");
}

}  // namespace

CallOutcome callOutcome(int httpStatus)
{
    switch (httpStatus) {
    case 200: return CallOutcome::Ok;
    case 400:
    case 413:
    case 422: return CallOutcome::BadArguments;
    case 401: return CallOutcome::Unauthorized;
    case 404: return CallOutcome::UnknownMethod;
    case 500: return CallOutcome::Failed;
    case 429:
    case 503: return CallOutcome::Refused;
    default: return CallOutcome::Other;
    }
}

std::string_view callOutcomeName(CallOutcome outcome)
{
    static constexpr std::array<std::string_view, kOutcomes> names = {
        "ok", "bad_arguments", "unauthorized", "unknown_method", "failed", "refused", "other"};
    return names[static_cast<std::size_t>(outcome)];
}

std::string_view sessionRefusalName(SessionRefusal reason)
{
    static constexpr std::array<std::string_view, static_cast<std::size_t>(SessionRefusal::Count)> names = {
        "credentials", "bad_request", "access", "unavailable", "locked_out"};
    return names[static_cast<std::size_t>(reason)];
}

std::string_view requestRefusalName(RequestRefusal reason)
{
    static constexpr std::array<std::string_view, static_cast<std::size_t>(RequestRefusal::Count)> names = {
        "malformed", "body_too_large", "head_too_large", "unsupported_coding", "body_memory"};
    return names[static_cast<std::size_t>(reason)];
}

struct Counters::MethodSlot {
    std::array<std::atomic<std::uint64_t>, kOutcomes> outcomes{};
    std::array<std::atomic<std::uint64_t>, kBuckets> buckets{};  // not cumulative
    std::atomic<std::uint64_t> sumNanoseconds{0};

    std::uint64_t total() const
    {
        std::uint64_t n = 0;
        for (const auto& o : outcomes)
            n += load(o);
        return n;
    }
};

struct Counters::MethodTable {
    std::vector<std::string> names;
    std::unique_ptr<MethodSlot[]> slots;
    std::unordered_map<std::string_view, std::size_t> index;
};

Counters::Counters() : other_(std::make_unique<MethodSlot>()) {}
Counters::~Counters() = default;

void Counters::declareMethods(const std::vector<std::string>& names)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (table_.load(std::memory_order_acquire))
        return;
    auto t = std::make_unique<MethodTable>();
    t->names = names;
    t->slots = std::make_unique<MethodSlot[]>(names.size());
    for (std::size_t i = 0; i < t->names.size(); ++i)
        t->index.emplace(t->names[i], i);
    ownedTable_ = std::move(t);
    table_.store(ownedTable_.get(), std::memory_order_release);
}

Counters::MethodSlot& Counters::slotOf(std::string_view method)
{
    if (const MethodTable* t = table()) {
        const auto it = t->index.find(method);
        if (it != t->index.end())
            return t->slots[it->second];
    }
    return *other_;
}

void Counters::callFinished(std::string_view method, int httpStatus, std::chrono::nanoseconds elapsed)
{
    MethodSlot& slot = slotOf(method);
    slot.outcomes[static_cast<std::size_t>(callOutcome(httpStatus))].fetch_add(1, std::memory_order_relaxed);
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const auto bucket = static_cast<std::size_t>(
        std::lower_bound(kLatencyBounds.begin(), kLatencyBounds.end(), seconds) - kLatencyBounds.begin());
    slot.buckets[bucket].fetch_add(1, std::memory_order_relaxed);
    slot.sumNanoseconds.fetch_add(static_cast<std::uint64_t>(std::max<std::int64_t>(0, elapsed.count())),
                                  std::memory_order_relaxed);
}

void Counters::requestRefused(RequestRefusal reason)
{
    requestsRefused_[static_cast<std::size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

void Counters::sessionRefused(SessionRefusal reason)
{
    sessionsRefused_[static_cast<std::size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

void Counters::statementFinished(bool failed)
{
    statements_.fetch_add(1, std::memory_order_relaxed);
    if (failed)
        statementErrors_.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t Counters::callCount(std::string_view method, CallOutcome outcome) const
{
    const MethodSlot* slot = other_.get();
    if (const MethodTable* t = table()) {
        const auto it = t->index.find(method);
        if (it != t->index.end())
            slot = &t->slots[it->second];
    }
    return load(slot->outcomes[static_cast<std::size_t>(outcome)]);
}

std::string Counters::writeExposition(const ScrapeGauges& gauges) const
{
    // The methods that have been called, with the calls of unknown names last.
    std::vector<std::pair<std::string_view, const MethodSlot*>> called;
    if (const MethodTable* t = table()) {
        for (std::size_t i = 0; i < t->names.size(); ++i)
            if (t->slots[i].total() > 0)
                called.emplace_back(t->names[i], &t->slots[i]);
    }
    if (other_->total() > 0)
        called.emplace_back(kOtherMethod, other_.get());

    std::string out;
    out.reserve(4096 + called.size() * 2048);

    header(out, "krpalvelin_method_calls_total", "counter", "Calls of published methods by method and outcome.");
    for (const auto& [name, slot] : called) {
        for (std::size_t o = 0; o < kOutcomes; ++o) {
            sample(out, "krpalvelin_method_calls_total",
                   "method=\"" + labelValue(name) + "\",outcome=\"" +
                       std::string(callOutcomeName(static_cast<CallOutcome>(o))) + "\"",
                   std::to_string(load(slot->outcomes[o])));
        }
    }

    header(out, "krpalvelin_method_call_duration_seconds", "histogram",
           "Time from the start of a method call's handling to its answer, by method.");
    for (const auto& [name, slot] : called) {
        const std::string method = "method=\"" + labelValue(name) + "\"";
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            cumulative += load(slot->buckets[b]);
            const std::string le = b < kLatencyBounds.size() ? number(kLatencyBounds[b]) : std::string("+Inf");
            sample(out, "krpalvelin_method_call_duration_seconds_bucket", method + ",le=\"" + le + "\"",
                   std::to_string(cumulative));
        }
        sample(out, "krpalvelin_method_call_duration_seconds_sum", method,
               number(static_cast<double>(load(slot->sumNanoseconds)) / 1e9));
        sample(out, "krpalvelin_method_call_duration_seconds_count", method, std::to_string(cumulative));
    }

    header(out, "krpalvelin_sessions_open", "gauge", "Sessions open now.");
    sample(out, "krpalvelin_sessions_open", {}, std::to_string(gauges.openSessions));
    header(out, "krpalvelin_sessions_opened_total", "counter", "Sessions opened (both gates passed).");
    sample(out, "krpalvelin_sessions_opened_total", {}, std::to_string(load(sessionsOpened_)));
    header(out, "krpalvelin_sessions_refused_total", "counter", "Session openings refused, by reason.");
    for (std::size_t r = 0; r < sessionsRefused_.size(); ++r) {
        sample(out, "krpalvelin_sessions_refused_total",
               "reason=\"" + std::string(sessionRefusalName(static_cast<SessionRefusal>(r))) + "\"",
               std::to_string(load(sessionsRefused_[r])));
    }

    header(out, "krpalvelin_requests_refused_total", "counter",
           "Requests the transport answered itself before the application saw them, by reason.");
    for (std::size_t r = 0; r < requestsRefused_.size(); ++r) {
        sample(out, "krpalvelin_requests_refused_total",
               "reason=\"" + std::string(requestRefusalName(static_cast<RequestRefusal>(r))) + "\"",
               std::to_string(load(requestsRefused_[r])));
    }

    header(out, "krpalvelin_connections_open", "gauge", "Client connections (TLS) open now.");
    sample(out, "krpalvelin_connections_open", {},
           std::to_string(std::max<std::int64_t>(0, connections_.load(std::memory_order_relaxed))));

    header(out, "krpalvelin_database_up", "gauge", "1 while the database connection is open.");
    sample(out, "krpalvelin_database_up", {}, gauges.databaseOpen ? "1" : "0");
    header(out, "krpalvelin_database_statements_total", "counter", "Database statements run.");
    sample(out, "krpalvelin_database_statements_total", {}, std::to_string(load(statements_)));
    header(out, "krpalvelin_database_statement_errors_total", "counter", "Database statements that failed.");
    sample(out, "krpalvelin_database_statement_errors_total", {}, std::to_string(load(statementErrors_)));
    header(out, "krpalvelin_database_pool_connections", "gauge", "Open pooled database connections, idle or in use.");
    sample(out, "krpalvelin_database_pool_connections", {}, std::to_string(gauges.poolConnections));
    header(out, "krpalvelin_database_pool_in_use", "gauge", "Pooled database connections in use now.");
    sample(out, "krpalvelin_database_pool_in_use", {}, std::to_string(gauges.poolLeased));
    header(out, "krpalvelin_database_pool_max", "gauge",
           "Pooled database connections allowed open at once (the configured limit).");
    sample(out, "krpalvelin_database_pool_max", {}, std::to_string(gauges.poolMax));

    header(out, "krpalvelin_event_log_lines_total", "counter", "Lines appended to the event log.");
    sample(out, "krpalvelin_event_log_lines_total", {}, std::to_string(load(logLines_)));
    return out;
}

Counters& counters()
{
    static Counters instance;
    return instance;
}

}  // namespace krp::metrics
