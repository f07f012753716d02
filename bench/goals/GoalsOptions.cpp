#include "GoalsOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace krp::bench {

const char* const kGoalsUsage =
    "usage: krp-goals [options]\n"
    "  --duration S            counted seconds of each call phase (4)\n"
    "  --warmup S              uncounted seconds before each call phase (1)\n"
    "  --concurrency LIST      sessions of the call phases (1,4,16; the goals need 16)\n"
    "  --repeat N              runs of every call and opening phase; the median run is shown (3)\n"
    "  --in-process S          seconds of each in-process measure (3)\n"
    "  --open-duration S       seconds of each session-opening phase (4)\n"
    "  --idle-connections N    connections held open for the memory figures (400)\n"
    "  --client-threads N      threads of the load generator (2)\n"
    "  --program PATH          the server program (the one built beside this)\n"
    "  --nginx PATH / --no-nginx\n"
    "  --time-limit S          the whole run ends by force after S seconds (600)\n"
    "  --odbc CONNECTION-STRING --mariadb-dir DIR\n"
    "                          the program on that MariaDB server over ODBC (bench/run-bench goals --odbc\n"
    "                          starts a private one) against the statements in process through the\n"
    "                          same driver; DIR holds the server's mariadb.pid\n"
    "  --receipt-sessions N    sessions writing receipt rows in the ODBC run (4)\n"
    "Exit status: 0 every goal met, 1 a goal not met (or not measured), 2 a bad command line,\n"
    "3 the run itself failed.\n";

GoalsOptions parseGoalsOptions(int argc, char** argv)
{
    GoalsOptions o;
    forEachOption(argc, argv, [&](const std::string& a, const OptionValue& value) {
        if (takeLoadOption(o, a, value))
            return;
        if (a == "--in-process")
            o.inProcessDuration = secondsValue(a, value());
        else if (a == "--open-duration")
            o.openDuration = secondsValue(a, value());
        else if (a == "--idle-connections")
            o.idleConnections = wholeNumber(a, value());
        else if (a == "--odbc")
            o.odbc = value();
        else if (a == "--mariadb-dir")
            o.mariaDbDir = value();
        else if (a == "--receipt-sessions")
            o.receiptSessions = std::max(1u, wholeNumber(a, value()));
        else if (a == "--help" || a == "-h") {
            std::fputs(kGoalsUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    });
    if (o.odbc.empty() != o.mariaDbDir.empty())
        throw std::invalid_argument("--odbc and --mariadb-dir go together");
    return o;
}

}  // namespace krp::bench
