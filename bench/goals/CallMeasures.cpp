#include "CallMeasures.h"

#include "support/ReportText.h"

#include <cstdio>
#include <thread>

namespace krp::bench {

using namespace std::chrono_literals;

Usage operator-(const Usage& a, const Usage& b)
{
    return {{a.cpu.user - b.cpu.user, a.cpu.system - b.cpu.system}, a.switches - b.switches};
}

Usage usageOf(pid_t pid)
{
    return {cpuTimesOf(pid), contextSwitchesOf(pid)};
}

namespace {

// The phase's own figures and the server's usage over it, per operation.
void fillPhase(PhaseRow& row, const PhaseResult& r, const Usage& used)
{
    row.rate = r.rate();
    row.p50 = r.percentileMs(50);
    row.p99 = r.percentileMs(99);
    row.errors = r.errors;
    row.firstError = r.firstError;
    if (r.operations == 0)
        return;
    const double n = static_cast<double>(r.operations);
    row.userUs = used.cpu.user * 1e6 / n;
    row.systemUs = used.cpu.system * 1e6 / n;
    row.usPerOp = row.userUs + row.systemUs;
    row.switchesPerOp = static_cast<double>(used.switches) / n;
}

}  // namespace

CallRow measureCalls(LoadGenerator& generator, std::uint16_t port, const Call& call, unsigned sessions,
                     const Limits& limits, const std::function<Usage()>& usage,
                     const std::function<double()>& databaseCpu)
{
    Usage start, used;
    double databaseStart = 0, databaseUsed = 0;
    PhaseHooks hooks{[&] {
                         start = usage();
                         databaseStart = databaseCpu ? databaseCpu() : 0;
                     },
                     [&] {
                         used = usage() - start;
                         databaseUsed = databaseCpu ? databaseCpu() - databaseStart : 0;
                     }};
    const PhaseResult r = generator.runCalls({port, true}, call, sessions, limits, hooks);
    CallRow row;
    fillPhase(row, r, used);
    row.call = call.name;
    row.sessions = sessions;
    row.generatorCores = r.generatorCores();
    if (r.operations > 0)
        row.databaseUsPerCall = databaseUsed * 1e6 / static_cast<double>(r.operations);
    if (r.seconds > 0)
        row.cores = used.cpu.total() / r.seconds;
    return row;
}

OpenRow measureOpenings(LoadGenerator& generator, const std::string& server, std::uint16_t port, bool withSession,
                        const std::function<Usage()>& usage, std::chrono::milliseconds duration)
{
    Usage start, used;
    const PhaseHooks hooks{[&] { start = usage(); }, [&] { used = usage() - start; }};
    Limits limits;
    limits.warmup = 0ms;
    limits.duration = duration;
    const PhaseResult r =
        generator.runSessionOpens({port, withSession}, 1, limits, hooks, LoadGenerator::AfterOpening::Leave);
    OpenRow row;
    fillPhase(row, r, used);
    row.server = server;
    return row;
}

IdleRow measureIdle(LoadGenerator& generator, const std::string& what, std::uint16_t port, bool withSession,
                    const std::function<long()>& rss, unsigned count)
{
    IdleRow row;
    row.what = what;
    std::this_thread::sleep_for(500ms);
    row.beforeKiB = rss();
    Limits limits;
    const auto held = generator.openIdleSessions({port, withSession}, count, 1, true, limits);
    std::this_thread::sleep_for(1500ms);  // the session-created log lines fall due after 1 s
    row.afterKiB = rss();
    row.connections = static_cast<unsigned>(held->opened());
    row.errors = errorsText(held->errors(), held->firstError());
    return row;
}

SearchCalls searchCalls(const SearchCodes& codes)
{
    return {{"Ping", "/api/v1/methods/Ping", "[\"Kairanet\",\"bench-{i}\"]", "{\"result\":null}"},
            {"MonivaiheinenTuotehaku, EAN code", "/api/v1/methods/MonivaiheinenTuotehaku", "[0,\"" + codes.ean + "\"]",
             "{\"result\":\"\"}"},
            {"MonivaiheinenTuotehaku, type code", "/api/v1/methods/MonivaiheinenTuotehaku",
             "[0,\"" + codes.typeCode + "\"]", "{\"result\":\"\"}"}};
}

void printCallTable(const std::string& title, const std::map<std::pair<std::string, unsigned>, CallRow>& calls,
                    CallColumns columns)
{
    const bool database = columns == CallColumns::DatabaseServer;
    std::printf("\n## %s\n\n", title.c_str());
    std::printf(
        "| Call | Sessions | Calls/s | Runs' range | p50 ms | p99 ms | Errors | Server CPU µs/call (user + "
        "kernel) | Context switches/call | %s |\n",
        database ? "Database server CPU µs/call" : "Server CPU (cores) | Generator CPU (cores)");
    std::printf("|---|---:|---:|---:|---:|---:|---|---:|---:|---:|%s\n", database ? "" : "---:|");
    for (const auto& [key, row] : calls) {
        const std::string extra =
            database ? fixed(row.databaseUsPerCall, 0) : fixed(row.cores, 2) + " | " + fixed(row.generatorCores, 2);
        std::printf("| %s | %u | %s | %s–%s | %s | %s | %s | %s (%s + %s) | %s | %s |\n", row.call.c_str(),
                    row.sessions, thousands(row.rate).c_str(), thousands(row.minRate).c_str(),
                    thousands(row.maxRate).c_str(), fixed(row.p50, 3).c_str(), fixed(row.p99, 3).c_str(),
                    errorsText(row.errors, row.firstError).c_str(), fixed(row.usPerOp, 0).c_str(),
                    fixed(row.userUs, 0).c_str(), fixed(row.systemUs, 0).c_str(), fixed(row.switchesPerOp, 1).c_str(),
                    extra.c_str());
    }
}

std::string errorsText(std::uint64_t errors, const std::string& first)
{
    return errors == 0 ? "0" : std::to_string(errors) + " (" + first + ")";
}

std::string errorsFault(std::uint64_t errors, const std::string& first)
{
    return errors == 0 ? "" : std::to_string(errors) + " errors (" + first + ")";
}

void printMachine(const MachineInfo& machine)
{
    std::printf("## Machine\n\n");
    std::printf("- date: %s\n", machine.date.c_str());
    std::printf("- CPU: %s, %u cores online; memory %.1f GiB; kernel %s\n", machine.cpuModel.c_str(), machine.cores,
                machine.memoryGiB, machine.kernel.c_str());
    std::printf("- load average before the run: %s; after: %s\n", machine.loadAverage.c_str(), loadAverage().c_str());
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "krp-goals: %s (load %s)\n", text.c_str(), loadAverage().c_str());
}

}  // namespace krp::bench
