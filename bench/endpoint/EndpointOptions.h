#pragma once
// krp-bench's command line.
#include "support/LoadOptions.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace krp::bench {

struct Options : LoadOptions {
    Options() : LoadOptions(std::chrono::milliseconds(5000), {1, 16, 64}, KRP_PROGRAM) {}

    std::uint64_t maxCalls = 2'000'000;
    std::vector<unsigned> openConcurrency{1, 16};
    unsigned idleSessions = 1000;
    std::string wrk = "/usr/bin/wrk";
    bool withWrk = true;
    unsigned wrkThreads = 2;
};

extern const char* const kUsage;

// Throws std::invalid_argument for a bad command line; prints the usage and exits 0 for --help.
Options parseOptions(int argc, char** argv);

}  // namespace krp::bench
