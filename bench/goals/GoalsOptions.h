#pragma once
// krp-goals' command line.
#include <chrono>
#include <string>
#include <vector>

namespace krp::bench {

struct GoalsOptions {
    std::chrono::milliseconds duration{4000};
    std::chrono::milliseconds warmup{1000};
    std::vector<unsigned> concurrency{1, 4, 16};
    unsigned repeat = 3;
    std::chrono::milliseconds inProcessDuration{3000};
    std::chrono::milliseconds openDuration{4000};
    unsigned idleConnections = 400;
    unsigned clientThreads = 2;
    std::string program = KRP_PROGRAM;
    std::string nginx = "/usr/sbin/nginx";
    bool withNginx = true;
    std::chrono::seconds timeLimit{600};
    // on MariaDB over ODBC
    std::string odbc;
    std::string mariaDbDir;
    unsigned receiptSessions = 4;
};

extern const char* const kGoalsUsage;

// Throws std::invalid_argument for a bad command line; prints the usage and exits 0 for --help.
GoalsOptions parseGoalsOptions(int argc, char** argv);

}  // namespace krp::bench
