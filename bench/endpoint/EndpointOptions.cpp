#include "EndpointOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace krp::bench {

const char* const kUsage =
    "usage: krp-bench [options]\n"
    "  --duration S          counted seconds of each load phase (5)\n"
    "  --warmup S            uncounted seconds before each phase's count starts (1)\n"
    "  --max-calls N         a phase's count also ends after N operations (2000000)\n"
    "  --concurrency LIST    sessions (= connections) of the call phases (1,16,64)\n"
    "  --open-concurrency L  parallel clients of the session-opening phases (1,16)\n"
    "  --idle-sessions N     sessions held open for the memory figure; 0: no memory phase (1000)\n"
    "  --client-threads N    threads of the load generator (2)\n"
    "  --program PATH        the server program (the one built beside this)\n"
    "  --nginx PATH          the nginx program (/usr/sbin/nginx)\n"
    "  --no-nginx            leave the nginx comparison out\n"
    "  --wrk PATH            wrk, the second load client of Ping and nginx (/usr/bin/wrk)\n"
    "  --no-wrk              leave wrk out\n"
    "  --wrk-threads N       wrk's threads (2, as the generator's); it runs at each concurrency of at least N\n"
    "  --repeat N            runs of every load phase; the run with the median rate is shown (3)\n"
    "  --time-limit S        the whole run ends by force after S seconds (600)\n"
    "Exit status: 0 every goal met, 1 a goal not met (or not measured), 2 a bad command line,\n"
    "3 the run itself failed.\n";

Options parseOptions(int argc, char** argv)
{
    Options o;
    forEachOption(argc, argv, [&](const std::string& a, const OptionValue& value) {
        if (takeLoadOption(o, a, value))
            return;
        if (a == "--max-calls")
            o.maxCalls = std::max(1u, wholeNumber(a, value()));
        else if (a == "--open-concurrency")
            o.openConcurrency = wholeNumbers(a, value());
        else if (a == "--idle-sessions")
            o.idleSessions = wholeNumber(a, value());
        else if (a == "--wrk")
            o.wrk = value();
        else if (a == "--no-wrk")
            o.withWrk = false;
        else if (a == "--wrk-threads")
            o.wrkThreads = std::max(1u, wholeNumber(a, value()));
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    });
    return o;
}

}  // namespace krp::bench
