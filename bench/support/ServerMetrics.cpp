#include "ServerMetrics.h"

#include <sstream>
#include <stdexcept>

namespace krp::bench {

namespace {

// The value of the sample `name` (without labels) in Prometheus text; -1 when absent.
long long sampleValue(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == ' ')
            return std::stoll(line.substr(name.size() + 1));
    return -1;
}

}  // namespace

ServerMetrics readServerMetrics(LoadGenerator& generator, std::uint16_t port)
{
    const auto [status, body] = generator.get(port, "/metrics");
    if (status != 200)
        throw std::runtime_error("GET /metrics answered " + std::to_string(status));
    ServerMetrics m;
    m.openSessions = sampleValue(body, "krpalvelin_sessions_open");
    m.logLines = sampleValue(body, "krpalvelin_event_log_lines_total");
    return m;
}

}  // namespace krp::bench
