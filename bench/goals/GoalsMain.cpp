// krp-goals: the figures the terminals feel, side by side with their yardsticks, in one bounded
// run, and a table of the goals; exits 1 when a goal is not met. The program itself
// (krpalvelin, headless) serves 100,000 products:
//
//   - MonivaiheinenTuotehaku by EAN code and by type code, and Ping, at 1, 4 and 16 sessions,
//     against the same statements in this process;
//   - session openings by one client over new connections, against nginx's handshakes;
//   - resident memory per idle kept-alive connection, with and without its session, against
//     nginx's per kept-alive connection;
//   - with --odbc, the searches and receipt rows on MariaDB against the statements in process
//     through the same driver.
//
//   krp-goals [options]          (bench/run-bench goals [--odbc] builds and runs it)
#include "Goals.h"

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv)
{
    using namespace krp::bench;
    GoalsOptions options;
    try {
        options = parseGoalsOptions(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-goals: %s\n%s", e.what(), kGoalsUsage);
        return 2;
    }
    try {
        return options.odbc.empty() ? runSqliteGoals(options) : runOdbcGoals(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-goals: %s\n", e.what());
        return 3;
    }
}
