// krp-bench: throughput, latency, session-opening rate and idle memory of the remote endpoint
// over real TLS on loopback, with nginx answering the same requests as the yardstick and wrk
// as a second load client. The program itself (krpalvelin, headless) serves the demo
// database. Runs a bounded number of short phases and prints the results as Markdown tables,
// its goals last; exits 1 when a goal is not met.
//
//   krp-bench                     the whole benchmark (see --help)
#include "EndpointMeasures.h"
#include "EndpointReport.h"
#include "support/BenchSetup.h"
#include "support/SearchDatabase.h"
#include "platform/core/ProcessResources.h"

#include <cstdio>

namespace krp::bench {
namespace {

int runBenchmark(const Options& options)
{
    krp::platform::raiseOpenFileLimit();  // many sockets at once
    startWatchdog("krp-bench", options.timeLimit);

    const MachineInfo machine = machineInfo();
    TempDirectory dir("krp-bench-");
    writeSelfSignedCertificate(dir.path());
    createDemoDatabase(dir.path() / "erp.sqlite", std::filesystem::path(KRP_SOURCE_DIR) / "db");

    LoadGenerator generator(options.clientThreads);
    Limits limits;
    limits.duration = options.duration;
    limits.warmup = options.warmup;
    limits.maxOperations = options.maxCalls;
    const Calls calls = benchCalls();

    const LoadFigures load = measureLoad(options, dir.path(), generator, limits, calls);
    const std::vector<IdleFigure> idle = measureIdleSessions(options, dir.path(), generator, limits);
    printReport(machine, options, generator, load, idle);
    const GoalTable goals = endpointGoals(options, load, idle, calls);
    goals.print("Goals");
    return goals.exitStatus();
}

}  // namespace
}  // namespace krp::bench

int main(int argc, char** argv)
{
    using namespace krp::bench;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-bench: %s\n%s", e.what(), kUsage);
        return 2;
    }
    try {
        return runBenchmark(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-bench: %s\n", e.what());
        return 3;
    }
}
