#pragma once
// The figures a benchmark reads from the program's own GET /metrics.
#include "LoadGenerator.h"

#include <cstdint>
#include <string>

namespace krp::bench {

struct ServerMetrics {
    long long openSessions = -1;  // -1: not in the answer
    long long logLines = -1;
};

// Reads GET /metrics of the program on `port`.
ServerMetrics readServerMetrics(LoadGenerator& generator, std::uint16_t port);

}  // namespace krp::bench
