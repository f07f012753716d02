#pragma once
// krp-goals' command line.
#include "support/LoadOptions.h"

#include <chrono>
#include <string>
#include <vector>

namespace krp::bench {

struct GoalsOptions : LoadOptions {
    GoalsOptions() : LoadOptions(std::chrono::milliseconds(4000), {1, 4, 16}, KRP_PROGRAM) {}

    std::chrono::milliseconds inProcessDuration{3000};
    std::chrono::milliseconds openDuration{4000};
    unsigned idleConnections = 400;
    // on MariaDB over ODBC
    std::string odbc;
    std::string mariaDbDir;
    unsigned receiptSessions = 4;
};

extern const char* const kGoalsUsage;

// Throws std::invalid_argument for a bad command line; prints the usage and exits 0 for --help.
GoalsOptions parseGoalsOptions(int argc, char** argv);

}  // namespace krp::bench
