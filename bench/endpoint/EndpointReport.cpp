#include "EndpointReport.h"

#include "support/ReportText.h"

#include <cstdio>

namespace krp::bench {

namespace {

void printCallTable(const std::vector<CallRow>& rows)
{
    std::printf(
        "| Server | Call | Sessions | Calls/s | Runs' range calls/s | p50 ms | p99 ms | Errors | "
        "Server CPU (cores) | Server CPU µs/call (user + kernel) | Server context switches/call | "
        "Generator CPU (cores) |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|\n");
    for (const auto& row : rows) {
        const auto& r = row.result;
        std::printf("| %s | %s | %u | %s | %s–%s | %s | %s | %s | %s | %s | %s | %s |\n", row.server.c_str(),
                    row.call.c_str(), r.concurrency, thousands(r.rate()).c_str(), thousands(row.minRate).c_str(),
                    thousands(row.maxRate).c_str(), fixed(r.percentileMs(50), 3).c_str(),
                    fixed(r.percentileMs(99), 3).c_str(), errorsText(r).c_str(), fixed(row.share.cores, 2).c_str(),
                    cpuPerOp(row.share, 1).c_str(), fixed(row.share.switchesPerOp, 2).c_str(),
                    fixed(r.generatorCores(), 2).c_str());
    }
}

void printMachine(const MachineInfo& machine, const Options& options, const LoadGenerator& generator,
                  const LoadFigures& load)
{
    std::printf("## Machine\n\n");
    std::printf("- date: %s\n", machine.date.c_str());
    std::printf("- CPU: %s, %u cores online\n", machine.cpuModel.c_str(), machine.cores);
    std::printf("- memory: %.1f GiB; kernel: %s\n", machine.memoryGiB, machine.kernel.c_str());
    std::printf("- load average before the run: %s; after: %s\n", machine.loadAverage.c_str(), loadAverage().c_str());
    std::printf(
        "- load generator: %u thread(s) in this process; every phase %u times, %s s counted after %s s "
        "warm-up; the tables show the run with the median rate\n",
        generator.threads(), options.repeat, fixed(options.duration.count() / 1000.0, 1).c_str(),
        fixed(options.warmup.count() / 1000.0, 1).c_str());
    std::printf("- server: %s, headless, on the demo database (SQLite)\n", options.program.c_str());
    if (!load.nginxNote.empty())
        std::printf("- nginx: %s\n", load.nginxNote.c_str());
    if (!load.wrkNote.empty())
        std::printf("- wrk: %s\n", load.wrkNote.c_str());
}

void printWrkTable(const std::vector<WrkRow>& rows)
{
    std::printf("\n## Ping with wrk as the load client (the same requests, one session per connection)\n\n");
    std::printf(
        "| Server | Connections | Calls/s | Runs' range calls/s | p50 ms | p99 ms | Errors | Server CPU (cores) "
        "| Server CPU µs/call (user + kernel) | wrk CPU (cores) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    for (const auto& row : rows) {
        const auto& r = row.result;
        std::printf("| %s | %u | %s | %s–%s | %s | %s | %s | %s | %s | %s |\n", row.server.c_str(), row.concurrency,
                    thousands(r.rate).c_str(), thousands(row.minRate).c_str(), thousands(row.maxRate).c_str(),
                    fixed(r.p50Ms, 3).c_str(), fixed(r.p99Ms, 3).c_str(),
                    r.errors ? (std::to_string(r.errors) + " (" + r.errorText + ")").c_str() : "0",
                    fixed(row.share.cores, 2).c_str(), cpuPerOp(row.share, 1).c_str(), fixed(r.clientCores, 2).c_str());
    }
    std::printf(
        "\nThe service's sessions were opened before each run; wrk's threads turn through their share of them, "
        "so a session may now and then get a call while its last one is still answered.\n");
}

}  // namespace

void printReport(const MachineInfo& machine, const Options& options, const LoadGenerator& generator,
                 const LoadFigures& load, const std::vector<IdleFigure>& idle)
{
    printMachine(machine, options, generator, load);
    std::printf("\n## Calls over kept-alive TLS connections (one session per connection)\n\n");
    printCallTable(load.calls);
    std::printf(
        "\nAfter the load phases the program had %lld sessions open and had written %lld event-log lines "
        "(its /metrics).\n",
        load.afterLoad.openSessions, load.afterLoad.logLines);
    if (!load.wrk.empty())
        printWrkTable(load.wrk);

    std::printf(
        "\n## Session opening (new TCP connection, full TLS handshake, POST /api/v1/session through both gates)\n\n");
    std::printf(
        "| Parallel clients | Opens/s | Runs' range opens/s | p50 ms | p99 ms | Errors | Server CPU (cores) | "
        "Server CPU µs/open (user + kernel) | Generator CPU (cores) |\n");
    std::printf("|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    for (const auto& row : load.opens) {
        const auto& r = row.result;
        std::printf("| %u | %s | %s–%s | %s | %s | %s | %s | %s | %s |\n", r.concurrency, thousands(r.rate()).c_str(),
                    thousands(row.minRate).c_str(), thousands(row.maxRate).c_str(),
                    fixed(r.percentileMs(50), 3).c_str(), fixed(r.percentileMs(99), 3).c_str(), errorsText(r).c_str(),
                    fixed(row.share.cores, 2).c_str(), cpuPerOp(row.share, 0).c_str(),
                    fixed(r.generatorCores(), 2).c_str());
    }
    std::printf(
        "\nEach opening is followed by DELETE /api/v1/session and the connection's close (not timed, "
        "but part of every cycle).\n");

    if (!idle.empty()) {
        std::printf("\n## Memory of the server process with %u idle sessions\n\n", options.idleSessions);
        std::printf(
            "| Sessions | Client connections | RSS at start MiB | RSS with the sessions MiB | "
            "Per session KiB | Errors |\n|---:|---|---:|---:|---:|---|\n");
        const std::string reused = "closed (" + std::to_string(kIdleOpeners) + " used in turn)";
        for (const auto& f : idle)
            std::printf(
                "| %zu | %s | %s | %s | %s | %s |\n", f.opened,
                f.keepConnections ? "one per session, kept open" : reused.c_str(),
                fixed(mib(f.started.rssKiB), 1).c_str(), fixed(mib(f.held.rssKiB), 1).c_str(),
                f.opened ? fixed(static_cast<double>(f.held.rssKiB - f.started.rssKiB) / f.opened, 1).c_str() : "-",
                f.errors.c_str());
        std::printf(
            "\nEach session called TarkistaKayttooikeus and Ping once. Each program then had, for example, "
            "%lld sessions open and %lld event-log lines written.\n",
            idle.front().metrics.openSessions, idle.front().metrics.logLines);
    }
}

GoalTable endpointGoals(const Options& options, const LoadFigures& load, const std::vector<IdleFigure>& idle,
                        const Calls& calls)
{
    GoalTable goals;
    if (const CallRow* one = findRow(load.calls, "KRPalvelin", "Ping", 1))
        goals.add({"Ping at 1 session: p50 latency", "ms", one->result.percentileMs(50), std::nullopt, "", 1.0,
                   Comparison::AtMost, 3, errorsFault(one->result)});
    else
        goals.addUnmeasured("Ping at 1 session: p50 latency", "--concurrency lacks 1");
    const CallRow* oneOurs = findRow(load.calls, "KRPalvelin", "Ping", 1);
    const CallRow* oneTheirs = findRow(load.calls, "nginx", "return 200", 1);
    if (oneOurs && oneTheirs)
        goals.add({"Ping at 1 session: p50 latency against nginx's", "ms", oneOurs->result.percentileMs(50),
                   oneTheirs->result.percentileMs(50), "nginx", 2.0, Comparison::AtMost, 3,
                   errorsFault(oneOurs->result, oneTheirs->result)});
    else
        goals.addUnmeasured("Ping at 1 session: p50 latency against nginx's",
                            oneOurs ? "nginx " + load.nginxNote : std::string("--concurrency lacks 1"));
    for (const Call* call : {&calls.ping, &calls.check}) {
        if (const CallRow* row = findRow(load.calls, "KRPalvelin", call->name, 64))
            goals.add({call->name + " at 64 sessions", "calls/s", row->result.rate(), std::nullopt, "", 10'000,
                       Comparison::AtLeast, 0, errorsFault(row->result)});
        else
            goals.addUnmeasured(call->name + " at 64 sessions", "--concurrency lacks 64");
    }
    // Against nginx with both load clients: the goal holds only when it holds with each, so the
    // client that spends more of the machine itself cannot flatter the ratio.
    const CallRow* ours = findRow(load.calls, "KRPalvelin", "Ping", 64);
    const CallRow* theirs = findRow(load.calls, "nginx", "return 200", 64);
    if (ours && theirs)
        goals.add({"Ping at 64 sessions against nginx, load by krp-bench's generator", "calls/s", ours->result.rate(),
                   theirs->result.rate(), "nginx", 0.5, Comparison::AtLeast, 0,
                   errorsFault(ours->result, theirs->result)});
    else
        goals.addUnmeasured("Ping at 64 sessions against nginx, load by krp-bench's generator", load.nginxNote);
    const WrkRow* oursWrk = findWrkRow(load.wrk, "KRPalvelin", 64);
    const WrkRow* theirsWrk = findWrkRow(load.wrk, "nginx", 64);
    if (oursWrk && theirsWrk) {
        std::string fault;
        if (oursWrk->result.errors + theirsWrk->result.errors > 0)
            fault = std::to_string(oursWrk->result.errors + theirsWrk->result.errors) + " errors (" +
                    oursWrk->result.errorText + theirsWrk->result.errorText + ")";
        goals.add({"Ping at 64 sessions against nginx, load by wrk", "calls/s", oursWrk->result.rate,
                   theirsWrk->result.rate, "nginx", 0.5, Comparison::AtLeast, 0, fault});
    } else {
        goals.addUnmeasured("Ping at 64 sessions against nginx, load by wrk",
                            load.wrkNote.empty() ? "--no-wrk or no nginx" : load.wrkNote);
    }
    for (const auto& f : idle)
        goals.add({std::to_string(options.idleSessions) + " idle sessions, " +
                       (f.keepConnections ? "each with its connection open" : "connections closed") +
                       ": resident memory",
                   "MiB", mib(f.held.rssKiB), std::nullopt, "", 100, Comparison::AtMost, 1,
                   f.opened == options.idleSessions ? "" : "opened " + std::to_string(f.opened) + ": " + f.errors});
    return goals;
}

}  // namespace krp::bench
