#pragma once
// krp-bench's command line.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace krp::bench {

struct Options {
    std::chrono::milliseconds duration{5000};
    std::chrono::milliseconds warmup{1000};
    std::uint64_t maxCalls = 2'000'000;
    std::vector<unsigned> concurrency{1, 16, 64};
    std::vector<unsigned> openConcurrency{1, 16};
    unsigned idleSessions = 1000;
    unsigned clientThreads = 2;
    std::string program = KRP_PROGRAM;
    std::string nginx = "/usr/sbin/nginx";
    bool withNginx = true;
    std::string wrk = "/usr/bin/wrk";
    bool withWrk = true;
    unsigned wrkThreads = 2;
    unsigned repeat = 3;
    std::chrono::seconds timeLimit{600};
};

extern const char* const kUsage;

// Throws std::invalid_argument for a bad command line; prints the usage and exits 0 for --help.
Options parseOptions(int argc, char** argv);

}  // namespace krp::bench
