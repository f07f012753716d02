#pragma once
// The command-line options that krp-bench and krp-goals share: how long and how wide each load
// phase is, how often it runs, the program under test, nginx as the yardstick, and the time
// limit of the whole run. Each program's own options struct derives from it.
#include "support/OptionValues.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace krp::bench {

struct LoadOptions {
    LoadOptions(std::chrono::milliseconds defaultDuration, std::vector<unsigned> defaultConcurrency,
                std::string defaultProgram)
        : duration(defaultDuration), concurrency(std::move(defaultConcurrency)), program(std::move(defaultProgram))
    {
    }

    std::chrono::milliseconds duration;  // counted time of each phase
    std::chrono::milliseconds warmup{1000};
    std::vector<unsigned> concurrency;  // sessions of the call phases
    unsigned repeat = 3;                // runs of every phase; the median run is shown
    unsigned clientThreads = 2;         // threads of the load generator
    std::string program;
    std::string nginx = "/usr/sbin/nginx";
    bool withNginx = true;
    std::chrono::seconds timeLimit{600};
};

// Sets the option in `o` and answers true when `option` is one of the shared ones (--duration,
// --warmup, --concurrency, --repeat, --client-threads, --program, --nginx, --no-nginx,
// --time-limit); false for any other.
bool takeLoadOption(LoadOptions& o, const std::string& option, const OptionValue& value);

}  // namespace krp::bench
