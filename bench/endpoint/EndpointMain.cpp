// krp-bench: throughput, latency, session-opening rate and idle memory of the remote endpoint
// over real TLS on loopback, with nginx answering the same requests as the yardstick. The
// program itself (krpalvelin, headless) serves the demo database. Runs a bounded number of
// short phases and prints the results as Markdown tables, its goals last; exits 1 when a goal
// is not met.
//
//   krp-bench                     the whole benchmark (see --help)
#include "support/BenchSetup.h"
#include "support/GoalTable.h"
#include "support/LoadGenerator.h"
#include "support/NginxServer.h"
#include "support/OptionValues.h"
#include "support/ProcessStats.h"
#include "support/ProgramUnderTest.h"
#include "support/ReportText.h"
#include "support/SearchDatabase.h"
#include "support/ServerMetrics.h"
#include "support/WrkLoad.h"
#include "platform/ProcessResources.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace krp::bench;
using namespace std::chrono_literals;

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

// Clients that open the idle sessions side by side.
constexpr unsigned kIdleOpeners = 16;

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
        if (a == "--duration") o.duration = secondsValue(a, value());
        else if (a == "--warmup") o.warmup = secondsValue(a, value());
        else if (a == "--max-calls") o.maxCalls = std::max(1u, wholeNumber(a, value()));
        else if (a == "--concurrency") o.concurrency = wholeNumbers(a, value());
        else if (a == "--open-concurrency") o.openConcurrency = wholeNumbers(a, value());
        else if (a == "--idle-sessions") o.idleSessions = wholeNumber(a, value());
        else if (a == "--client-threads") o.clientThreads = std::max(1u, wholeNumber(a, value()));
        else if (a == "--program") o.program = value();
        else if (a == "--nginx") o.nginx = value();
        else if (a == "--no-nginx") o.withNginx = false;
        else if (a == "--wrk") o.wrk = value();
        else if (a == "--no-wrk") o.withWrk = false;
        else if (a == "--wrk-threads") o.wrkThreads = std::max(1u, wholeNumber(a, value()));
        else if (a == "--repeat") o.repeat = std::max(1u, wholeNumber(a, value()));
        else if (a == "--time-limit") o.timeLimit = std::chrono::seconds(std::max(1u, wholeNumber(a, value())));
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    });
    return o;
}

double mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

// What a server process used during a phase's counted part: CPU time and context switches.
struct ServerWindow {
    std::function<CpuTimes()> cpu;
    std::function<long long()> switches;
    CpuTimes cpuStart{};
    CpuTimes cpuUsed{};
    long long switchesStart = 0;
    long long switchesUsed = 0;
    PhaseHooks hooks()
    {
        return {[this] {
                    cpuStart = cpu();
                    switchesStart = switches();
                },
                [this] {
                    const CpuTimes now = cpu();
                    cpuUsed = {now.user - cpuStart.user, now.system - cpuStart.system};
                    switchesUsed = switches() - switchesStart;
                }};
    }
};

// A phase's result with the server's share.
struct ServerShare {
    double cores = 0;           // CPU seconds per second
    double userUsPerOp = 0;     // CPU microseconds per operation, in user space
    double systemUsPerOp = 0;   // and in the kernel
    double switchesPerOp = 0;   // context switches per operation
    double usPerOp() const { return userUsPerOp + systemUsPerOp; }
};

ServerShare shareOf(const ServerWindow& w, const PhaseResult& r)
{
    ServerShare s;
    if (r.seconds > 0)
        s.cores = w.cpuUsed.total() / r.seconds;
    if (r.operations > 0) {
        const double ops = static_cast<double>(r.operations);
        s.userUsPerOp = w.cpuUsed.user * 1e6 / ops;
        s.systemUsPerOp = w.cpuUsed.system * 1e6 / ops;
        s.switchesPerOp = static_cast<double>(w.switchesUsed) / ops;
    }
    return s;
}

std::string cpuPerOp(const ServerShare& s, int decimals)
{
    return fixed(s.usPerOp(), decimals) + " (" + fixed(s.userUsPerOp, decimals) + " + " +
           fixed(s.systemUsPerOp, decimals) + ")";
}

struct CallRow {
    std::string server;
    std::string call;
    PhaseResult result;
    ServerShare share;
    double minRate = 0;  // over the repeated runs
    double maxRate = 0;
};

// Of repeated runs of one phase: the run with the median rate, with the spread of the rates.
std::vector<CallRow> medianRuns(const std::vector<CallRow>& runs)
{
    std::vector<CallRow> chosen;
    std::vector<bool> done(runs.size(), false);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (done[i])
            continue;
        std::vector<const CallRow*> same;
        for (std::size_t j = i; j < runs.size(); ++j) {
            if (!done[j] && runs[j].server == runs[i].server && runs[j].call == runs[i].call &&
                runs[j].result.concurrency == runs[i].result.concurrency) {
                same.push_back(&runs[j]);
                done[j] = true;
            }
        }
        std::sort(same.begin(), same.end(),
                  [](const CallRow* a, const CallRow* b) { return a->result.rate() < b->result.rate(); });
        CallRow row = *same[same.size() / 2];
        row.minRate = same.front()->result.rate();
        row.maxRate = same.back()->result.rate();
        chosen.push_back(std::move(row));
    }
    return chosen;
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "krp-bench: %s\n", text.c_str());
}

std::string errorsText(const PhaseResult& r)
{
    return r.errors == 0 ? "0" : std::to_string(r.errors) + " (" + r.firstError + ")";
}

// A goal's fault: "" without errors.
std::string errorsFault(const PhaseResult& r)
{
    return r.errors == 0 ? "" : std::to_string(r.errors) + " errors (" + r.firstError + ")";
}

// The fault of a goal measured on two phases: the first one's errors, else the second's.
std::string errorsFault(const PhaseResult& a, const PhaseResult& b)
{
    return a.errors != 0 ? errorsFault(a) : errorsFault(b);
}

void printCallTable(const std::vector<CallRow>& rows)
{
    std::printf("| Server | Call | Sessions | Calls/s | Runs' range calls/s | p50 ms | p99 ms | Errors | "
                "Server CPU (cores) | Server CPU µs/call (user + kernel) | Server context switches/call | "
                "Generator CPU (cores) |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|\n");
    for (const auto& row : rows) {
        const auto& r = row.result;
        std::printf("| %s | %s | %u | %s | %s–%s | %s | %s | %s | %s | %s | %s | %s |\n", row.server.c_str(),
                    row.call.c_str(), r.concurrency, thousands(r.rate()).c_str(), thousands(row.minRate).c_str(),
                    thousands(row.maxRate).c_str(),
                    fixed(r.percentileMs(50), 3).c_str(), fixed(r.percentileMs(99), 3).c_str(),
                    errorsText(r).c_str(), fixed(row.share.cores, 2).c_str(), cpuPerOp(row.share, 1).c_str(),
                    fixed(row.share.switchesPerOp, 2).c_str(), fixed(r.generatorCores(), 2).c_str());
    }
}

// Memory of a fresh server process before and after idle sessions were opened.
struct IdleFigure {
    bool keepConnections = true;
    MemoryUse started;
    MemoryUse held;
    std::size_t opened = 0;
    std::string errors = "0";
    ServerMetrics metrics;
};

// A phase driven by wrk instead of the generator.
struct WrkRow {
    std::string server;
    unsigned concurrency = 0;
    WrkResult result;
    ServerShare share;
    double minRate = 0, maxRate = 0;
};

std::vector<WrkRow> medianWrkRuns(const std::vector<WrkRow>& runs)
{
    std::map<std::pair<std::string, unsigned>, std::vector<WrkRow>> groups;
    for (const auto& r : runs)
        groups[{r.server, r.concurrency}].push_back(r);
    std::vector<WrkRow> chosen;
    for (auto& [key, same] : groups) {
        std::sort(same.begin(), same.end(), [](const WrkRow& a, const WrkRow& b) { return a.result.rate < b.result.rate; });
        WrkRow row = same[same.size() / 2];
        row.minRate = same.front().result.rate;
        row.maxRate = same.back().result.rate;
        chosen.push_back(std::move(row));
    }
    return chosen;
}

const CallRow* findRow(const std::vector<CallRow>& rows, const std::string& server, const std::string& call,
                       unsigned concurrency)
{
    for (const auto& row : rows)
        if (row.server == server && row.call == call && row.result.concurrency == concurrency)
            return &row;
    return nullptr;
}

const WrkRow* findWrkRow(const std::vector<WrkRow>& rows, const std::string& server, unsigned concurrency)
{
    for (const auto& row : rows)
        if (row.server == server && row.concurrency == concurrency)
            return &row;
    return nullptr;
}

struct Calls {
    Call ping, check;
};

Calls benchCalls()
{
    return {{"Ping", "/api/v1/methods/Ping", "[\"Kairanet\",\"bench-{i}\"]", "{\"result\":null}"},
            {"TarkistaKayttooikeus", "/api/v1/methods/TarkistaKayttooikeus",
             std::string("[\"avain\",\"") + BenchAccount::user + "\",\"" + BenchAccount::password + "\"]",
             "{\"result\":true}"}};
}

ProgramUnderTest::Settings programSettings(const Options& options, const std::filesystem::path& dir)
{
    ProgramUnderTest::Settings s;
    s.program = options.program;
    s.directory = dir;
    s.database = "sqlite:erp.sqlite";
    return s;
}

// What the load phases measured.
struct LoadFigures {
    std::vector<CallRow> calls;  // the median runs
    std::vector<CallRow> opens;
    std::vector<WrkRow> wrk;
    std::string nginxNote;
    std::string wrkNote;
    ServerMetrics afterLoad;
};

// Ping with wrk at `c` connections on the program (in sessions opened for it) and on nginx.
void measureWithWrk(const Options& options, const std::filesystem::path& dir, LoadGenerator& generator,
                    const ProgramUnderTest& program, ServerWindow& window, NginxServer* nginx,
                    ServerWindow* nginxWindow, unsigned c, std::vector<WrkRow>& runs)
{
    const std::string body = "[\"Kairanet\",\"bench-wrk\"]";
    WrkRun run;
    run.program = options.wrk;
    run.path = "/api/v1/methods/Ping";
    run.body = body;
    run.connections = c;
    run.threads = options.wrkThreads;
    run.duration = options.duration;
    const auto measure = [&](const std::string& server, std::uint16_t port, std::vector<std::string> sessions,
                             ServerWindow& w) {
        run.port = port;
        run.sessions = std::move(sessions);
        const auto hooks = w.hooks();
        hooks.onStart();
        const auto t0 = std::chrono::steady_clock::now();
        WrkRow row;
        row.server = server;
        row.concurrency = c;
        row.result = runWrk(run, dir.string());
        hooks.onEnd();
        PhaseResult counted;
        counted.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        counted.operations = row.result.requests;
        row.share = shareOf(w, counted);
        runs.push_back(std::move(row));
    };
    progress("Ping with " + std::to_string(c) + " sessions, load by wrk");
    std::vector<std::string> sessions = generator.openSessions(program.port(), c);
    measure("KRPalvelin", program.port(), sessions, window);
    generator.closeSessions(program.port(), sessions);
    if (nginx) {
        progress("nginx with " + std::to_string(c) + " connections, load by wrk");
        measure("nginx", nginx->port(), {}, *nginxWindow);
    }
}

// Calls and session openings on one program; nginx, when compared, runs beside it and takes
// its turn right after the program at the same concurrency, so that both see the same
// background load; wrk drives Ping and nginx once more after the generator.
LoadFigures measureLoad(const Options& options, const std::filesystem::path& dir, LoadGenerator& generator,
                        const Limits& limits, const Calls& calls)
{
    LoadFigures f;
    std::vector<CallRow> runs, openRuns;
    std::vector<WrkRow> wrkRuns;
    progress("starting " + options.program + " for the load phases");
    ProgramUnderTest program(programSettings(options, dir));
    const Endpoint endpoint{program.port(), true};
    const pid_t pid = program.pid();
    ServerWindow window{[pid] { return cpuTimesOf(pid); }, [pid] { return contextSwitchesOf(pid); }};
    std::unique_ptr<NginxServer> nginx;
    std::optional<ServerWindow> nginxWindow;
    if (options.withNginx) {
        try {
            progress("starting nginx");
            nginx = std::make_unique<NginxServer>(options.nginx, dir);
            f.nginxNote = std::to_string(nginx->workers()) + " worker processes";
            nginxWindow.emplace(ServerWindow{[&] { return nginx->cpuTimes(); }, [&] { return nginx->contextSwitches(); }});
        } catch (const std::exception& e) {
            f.nginxNote = std::string("not measured: ") + e.what();
        }
    }
    bool withWrk = options.withWrk;
    if (withWrk && ::access(options.wrk.c_str(), X_OK) != 0) {
        f.wrkNote = "not measured: " + options.wrk + " not found (scripts/install-deps installs wrk)";
        withWrk = false;
    }
    for (unsigned run = 1; run <= options.repeat; ++run) {
        const std::string of = " (run " + std::to_string(run) + " of " + std::to_string(options.repeat) + ")";
        for (const unsigned c : options.concurrency) {
            for (const Call* call : {&calls.ping, &calls.check}) {
                progress(call->name + " with " + std::to_string(c) + " sessions" + of);
                PhaseResult r = generator.runCalls(endpoint, *call, c, limits, window.hooks());
                const ServerShare share = shareOf(window, r);
                runs.push_back({"KRPalvelin", call->name, std::move(r), share});
            }
            if (nginx) {
                progress("nginx with " + std::to_string(c) + " connections" + of);
                PhaseResult r = generator.runCalls({nginx->port(), false}, calls.ping, c, limits, nginxWindow->hooks());
                const ServerShare share = shareOf(*nginxWindow, r);
                runs.push_back({"nginx", "return 200", std::move(r), share});
            }
            if (withWrk && c >= options.wrkThreads) {
                try {
                    measureWithWrk(options, dir, generator, program, window, nginx.get(),
                                   nginxWindow ? &*nginxWindow : nullptr, c, wrkRuns);
                } catch (const std::exception& e) {
                    f.wrkNote = std::string("not measured: ") + e.what();
                    withWrk = false;
                }
            }
        }
        for (const unsigned c : options.openConcurrency) {
            progress("session openings with " + std::to_string(c) + " parallel clients" + of);
            PhaseResult r = generator.runSessionOpens(endpoint, c, limits, window.hooks());
            const ServerShare share = shareOf(window, r);
            openRuns.push_back({"KRPalvelin", "open", std::move(r), share});
        }
    }
    f.afterLoad = readServerMetrics(generator, program.port());
    f.calls = medianRuns(runs);
    f.opens = medianRuns(openRuns);
    f.wrk = medianWrkRuns(wrkRuns);
    if (withWrk && f.wrkNote.empty())
        f.wrkNote = "wrk " + std::to_string(options.wrkThreads) + " threads, the same POST in sessions opened for it";
    return f;
}

// Idle sessions, each measure on a fresh program.
std::vector<IdleFigure> measureIdleSessions(const Options& options, const std::filesystem::path& dir,
                                            LoadGenerator& generator, const Limits& limits)
{
    std::vector<IdleFigure> idle;
    if (options.idleSessions == 0)
        return idle;
    for (const bool keepConnections : {true, false}) {
        progress("opening " + std::to_string(options.idleSessions) + " idle sessions" +
                 (keepConnections ? " with their connections" : ""));
        ProgramUnderTest program(programSettings(options, dir));
        IdleFigure figure;
        figure.keepConnections = keepConnections;
        std::this_thread::sleep_for(500ms);
        figure.started = memoryOf(program.pid());
        auto held = generator.openIdleSessions({program.port(), true}, options.idleSessions, kIdleOpeners,
                                               keepConnections, limits);
        figure.opened = held->opened();
        if (held->errors() > 0)
            figure.errors = std::to_string(held->errors()) + " (" + held->firstError() + ")";
        std::this_thread::sleep_for(1500ms);  // the session-created log lines fall due after 1 s
        figure.held = memoryOf(program.pid());
        figure.metrics = readServerMetrics(generator, program.port());
        idle.push_back(std::move(figure));
    }
    return idle;
}

void printMachine(const MachineInfo& machine, const Options& options, const LoadGenerator& generator,
                  const LoadFigures& load)
{
    std::printf("## Machine\n\n");
    std::printf("- date: %s\n", machine.date.c_str());
    std::printf("- CPU: %s, %u cores online\n", machine.cpuModel.c_str(), machine.cores);
    std::printf("- memory: %.1f GiB; kernel: %s\n", machine.memoryGiB, machine.kernel.c_str());
    std::printf("- load average before the run: %s; after: %s\n", machine.loadAverage.c_str(), loadAverage().c_str());
    std::printf("- load generator: %u thread(s) in this process; every phase %u times, %s s counted after %s s "
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
    std::printf("| Server | Connections | Calls/s | Runs' range calls/s | p50 ms | p99 ms | Errors | Server CPU (cores) "
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
    std::printf("\nThe service's sessions were opened before each run; wrk's threads turn through their share of them, "
                "so a session may now and then get a call while its last one is still answered.\n");
}

void printReport(const MachineInfo& machine, const Options& options, const LoadGenerator& generator,
                 const LoadFigures& load, const std::vector<IdleFigure>& idle)
{
    printMachine(machine, options, generator, load);
    std::printf("\n## Calls over kept-alive TLS connections (one session per connection)\n\n");
    printCallTable(load.calls);
    std::printf("\nAfter the load phases the program had %lld sessions open and had written %lld event-log lines "
                "(its /metrics).\n",
                load.afterLoad.openSessions, load.afterLoad.logLines);
    if (!load.wrk.empty())
        printWrkTable(load.wrk);

    std::printf("\n## Session opening (new TCP connection, full TLS handshake, POST /api/v1/session through both gates)\n\n");
    std::printf("| Parallel clients | Opens/s | Runs' range opens/s | p50 ms | p99 ms | Errors | Server CPU (cores) | "
                "Server CPU µs/open (user + kernel) | Generator CPU (cores) |\n");
    std::printf("|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    for (const auto& row : load.opens) {
        const auto& r = row.result;
        std::printf("| %u | %s | %s–%s | %s | %s | %s | %s | %s | %s |\n", r.concurrency, thousands(r.rate()).c_str(),
                    thousands(row.minRate).c_str(), thousands(row.maxRate).c_str(),
                    fixed(r.percentileMs(50), 3).c_str(), fixed(r.percentileMs(99), 3).c_str(),
                    errorsText(r).c_str(), fixed(row.share.cores, 2).c_str(), cpuPerOp(row.share, 0).c_str(),
                    fixed(r.generatorCores(), 2).c_str());
    }
    std::printf("\nEach opening is followed by DELETE /api/v1/session and the connection's close (not timed, "
                "but part of every cycle).\n");

    if (!idle.empty()) {
        std::printf("\n## Memory of the server process with %u idle sessions\n\n", options.idleSessions);
        std::printf("| Sessions | Client connections | RSS at start MiB | RSS with the sessions MiB | "
                    "Per session KiB | Errors |\n|---:|---|---:|---:|---:|---|\n");
        const std::string reused = "closed (" + std::to_string(kIdleOpeners) + " used in turn)";
        for (const auto& f : idle)
            std::printf("| %zu | %s | %s | %s | %s | %s |\n", f.opened,
                        f.keepConnections ? "one per session, kept open" : reused.c_str(),
                        fixed(mib(f.started.rssKiB), 1).c_str(), fixed(mib(f.held.rssKiB), 1).c_str(),
                        f.opened ? fixed(static_cast<double>(f.held.rssKiB - f.started.rssKiB) / f.opened, 1).c_str() : "-",
                        f.errors.c_str());
        std::printf("\nEach session called TarkistaKayttooikeus and Ping once. Each program then had, for example, "
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
        goals.addUnmeasured("Ping at 1 session: p50 latency against nginx's", "--concurrency lacks 1, or " + load.nginxNote);
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

int main(int argc, char** argv)
{
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
