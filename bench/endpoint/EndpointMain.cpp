// krp-bench: throughput, latency, session-opening rate and idle memory of the remote endpoint
// over real TLS on loopback, with nginx answering the same requests as the yardstick. Runs a
// bounded number of short phases and prints the results as Markdown tables.
//
//   krp-bench                     the whole benchmark (see --help)
//   krp-bench serve DIR ...       the server process it starts for itself
#include "support/BenchServer.h"
#include "support/BenchSetup.h"
#include "support/LoadGenerator.h"
#include "support/NginxServer.h"
#include "support/ProcessStats.h"
#include "support/ReportText.h"
#include "support/ServerUnderTest.h"
#include "server/ServerContainerUnit1.h"
#include "platform/ProcessResources.h"
#include "server/transport/HttpsServer.h"

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
    unsigned serverWorkers = 0;  // 0: the container's default
    std::string nginx = "/usr/sbin/nginx";
    bool withNginx = true;
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
    "  --server-workers N    request worker threads of the server (the container's default)\n"
    "  --nginx PATH          the nginx program (/usr/sbin/nginx)\n"
    "  --no-nginx            leave the nginx comparison out\n"
    "  --repeat N            runs of every load phase; the run with the median rate is shown (3)\n"
    "  --time-limit S        the whole run ends by force after S seconds (600)\n";

std::vector<unsigned> parseList(const std::string& text)
{
    std::vector<unsigned> values;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(static_cast<unsigned>(std::stoul(item)));
    return values;
}

std::chrono::milliseconds seconds(const std::string& text)
{
    return std::chrono::milliseconds(static_cast<long long>(std::stod(text) * 1000));
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--duration") o.duration = seconds(value());
        else if (a == "--warmup") o.warmup = seconds(value());
        else if (a == "--max-calls") o.maxCalls = std::stoull(value());
        else if (a == "--concurrency") o.concurrency = parseList(value());
        else if (a == "--open-concurrency") o.openConcurrency = parseList(value());
        else if (a == "--idle-sessions") o.idleSessions = static_cast<unsigned>(std::stoul(value()));
        else if (a == "--client-threads") o.clientThreads = static_cast<unsigned>(std::stoul(value()));
        else if (a == "--server-workers") o.serverWorkers = static_cast<unsigned>(std::stoul(value()));
        else if (a == "--nginx") o.nginx = value();
        else if (a == "--no-nginx") o.withNginx = false;
        else if (a == "--repeat") o.repeat = std::max(1u, static_cast<unsigned>(std::stoul(value())));
        else if (a == "--time-limit") o.timeLimit = std::chrono::seconds(std::stoul(value()));
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    }
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
    std::map<std::string, long> status;
};

const CallRow* findRow(const std::vector<CallRow>& rows, const std::string& server, const std::string& call,
                       unsigned concurrency)
{
    for (const auto& row : rows)
        if (row.server == server && row.call == call && row.result.concurrency == concurrency)
            return &row;
    return nullptr;
}

int runBenchmark(const Options& options)
{
    krp::platform::raiseOpenFileLimit();  // many sockets at once
    startWatchdog("krp-bench", options.timeLimit);

    const MachineInfo machine = machineInfo();
    TempDirectory dir("krp-bench-");
    writeSelfSignedCertificate(dir.path());
    createBenchDatabase(dir.path() / "erp.sqlite");

    LoadGenerator generator(options.clientThreads);
    Limits limits;
    limits.duration = options.duration;
    limits.warmup = options.warmup;
    limits.maxOperations = options.maxCalls;

    const Call ping{"Ping", "/api/v1/methods/Ping", "[\"Kairanet\",\"bench-{i}\"]", "{\"result\":null}"};
    const Call check{"TarkistaKayttooikeus", "/api/v1/methods/TarkistaKayttooikeus",
                     std::string("[\"avain\",\"") + BenchAccount::user + "\",\"" + BenchAccount::password + "\"]",
                     "{\"result\":true}"};

    std::vector<CallRow> runs;       // every run of every call phase
    std::vector<CallRow> openRuns;   // every run of the session-opening phases ("call" unused)
    std::map<std::string, long> afterLoad;
    std::string nginxNote;
    const std::size_t maxConnections = options.idleSessions + 256;

    // Calls and session openings on one server process; nginx, when compared, runs beside it
    // and takes its turn right after the service at the same concurrency, so that both see
    // the same background load.
    {
        progress("starting the server for the load phases");
        ServerUnderTest server(dir.path(), maxConnections, options.serverWorkers);
        const Endpoint endpoint{server.port(), true};
        ServerWindow window{[&] { return cpuTimesOf(server.pid()); },
                            [&] { return contextSwitchesOf(server.pid()); }};
        std::unique_ptr<NginxServer> nginx;
        std::optional<ServerWindow> nginxWindow;
        if (options.withNginx) {
            try {
                progress("starting nginx");
                nginx = std::make_unique<NginxServer>(options.nginx, dir.path());
                nginxNote = std::to_string(nginx->workers()) + " worker processes";
                nginxWindow.emplace(ServerWindow{[&] { return nginx->cpuTimes(); },
                                                 [&] { return nginx->contextSwitches(); }});
            } catch (const std::exception& e) {
                nginxNote = std::string("not measured: ") + e.what();
            }
        }
        for (unsigned run = 1; run <= options.repeat; ++run) {
            const std::string of = " (run " + std::to_string(run) + " of " + std::to_string(options.repeat) + ")";
            for (const unsigned c : options.concurrency) {
                for (const Call* call : {&ping, &check}) {
                    progress(call->name + " with " + std::to_string(c) + " sessions" + of);
                    PhaseResult r = generator.runCalls(endpoint, *call, c, limits, window.hooks());
                    const ServerShare share = shareOf(window, r);
                    runs.push_back({"KRPalvelin", call->name, std::move(r), share});
                }
                if (nginx) {
                    progress("nginx with " + std::to_string(c) + " connections" + of);
                    PhaseResult r = generator.runCalls({nginx->port(), false}, ping, c, limits, nginxWindow->hooks());
                    const ServerShare share = shareOf(*nginxWindow, r);
                    runs.push_back({"nginx", "return 200", std::move(r), share});
                }
            }
            for (const unsigned c : options.openConcurrency) {
                progress("session openings with " + std::to_string(c) + " parallel clients" + of);
                PhaseResult r = generator.runSessionOpens(endpoint, c, limits, window.hooks());
                const ServerShare share = shareOf(window, r);
                openRuns.push_back({"KRPalvelin", "open", std::move(r), share});
            }
        }
        afterLoad = server.status();
    }
    const std::vector<CallRow> calls = medianRuns(runs);
    const std::vector<CallRow> opens = medianRuns(openRuns);

    // Idle sessions on a fresh server process.
    std::vector<IdleFigure> idle;
    if (options.idleSessions > 0) {
        for (const bool keepConnections : {true, false}) {
            progress("opening " + std::to_string(options.idleSessions) + " idle sessions" +
                     (keepConnections ? " with their connections" : ""));
            ServerUnderTest server(dir.path(), maxConnections, options.serverWorkers);
            IdleFigure figure;
            figure.keepConnections = keepConnections;
            std::this_thread::sleep_for(500ms);
            figure.started = memoryOf(server.pid());
            auto held = generator.openIdleSessions({server.port(), true}, options.idleSessions, kIdleOpeners,
                                                   keepConnections, limits);
            figure.opened = held->opened();
            if (held->errors() > 0)
                figure.errors = std::to_string(held->errors()) + " (" + held->firstError() + ")";
            std::this_thread::sleep_for(1500ms);  // the session-created log lines fall due after 1 s
            figure.status = server.status();
            figure.held = memoryOf(server.pid());
            idle.push_back(std::move(figure));
        }
    }

    // The report.
    std::printf("## Machine\n\n");
    std::printf("- date: %s\n", machine.date.c_str());
    std::printf("- CPU: %s, %u cores online\n", machine.cpuModel.c_str(), machine.cores);
    std::printf("- memory: %.1f GiB; kernel: %s\n", machine.memoryGiB, machine.kernel.c_str());
    std::printf("- load average before the run: %s; after: %s\n", machine.loadAverage.c_str(), loadAverage().c_str());
    std::printf("- load generator: %u thread(s) in this process; every phase %u times, %s s counted after %s s "
                "warm-up; the tables show the run with the median rate\n",
                generator.threads(), options.repeat, fixed(options.duration.count() / 1000.0, 1).c_str(),
                fixed(options.warmup.count() / 1000.0, 1).c_str());
    const unsigned defaultWorkers = krp::ServerContainerOptions{}.workerThreads;
    std::printf("- server: TServerContainer1 in its own process, %u request worker threads%s, %u I/O threads, "
                "event log and client registry on a Qt main thread\n",
                options.serverWorkers ? options.serverWorkers : defaultWorkers,
                options.serverWorkers ? "" : " (the default)", krp::transport::HttpsServerOptions{}.ioThreads);
    if (!nginxNote.empty())
        std::printf("- nginx: %s\n", nginxNote.c_str());

    std::printf("\n## Calls over kept-alive TLS connections (one session per connection)\n\n");
    printCallTable(calls);
    std::printf("\nAfter the load phases the server's main thread had %ld event-log lines, %ld registry "
                "entries and %ld registry hand-overs still pending; %ld sessions open.\n",
                afterLoad["log"], afterLoad["clients"], afterLoad["pending"], afterLoad["sessions"]);

    std::printf("\n## Session opening (new TCP connection, full TLS handshake, POST /api/v1/session through both gates)\n\n");
    std::printf("| Parallel clients | Opens/s | Runs' range opens/s | p50 ms | p99 ms | Errors | Server CPU (cores) | "
                "Server CPU µs/open (user + kernel) | Generator CPU (cores) |\n");
    std::printf("|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    for (const auto& row : opens) {
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
        std::printf("\nEach session called TarkistaKayttooikeus and Ping once. Each server then had, for example, "
                    "%ld sessions, %ld registry entries and %ld event-log lines.\n",
                    idle.front().status.at("sessions"), idle.front().status.at("clients"),
                    idle.front().status.at("log"));
    }

    std::printf("\n## Goals\n\n| Goal | Measured | Met |\n|---|---|---|\n");
    if (const CallRow* one = findRow(calls, "KRPalvelin", "Ping", 1)) {
        const double p50 = one->result.percentileMs(50);
        std::printf("| p50 below 1 ms at 1 session (Ping) | %s ms | %s |\n", fixed(p50, 3).c_str(), verdict(p50 < 1.0));
    }
    for (const Call* call : {&ping, &check}) {
        if (const CallRow* row = findRow(calls, "KRPalvelin", call->name, 64)) {
            const double rate = row->result.rate();
            std::printf("| at least 10,000 calls/s at 64 sessions (%s) | %s calls/s | %s |\n", call->name.c_str(),
                        thousands(rate).c_str(), verdict(rate >= 10'000 && row->result.errors == 0));
        }
    }
    const CallRow* ours = findRow(calls, "KRPalvelin", "Ping", 64);
    const CallRow* theirs = findRow(calls, "nginx", "return 200", 64);
    if (ours && theirs && theirs->result.rate() > 0) {
        const double share = ours->result.rate() / theirs->result.rate();
        std::printf("| half of nginx's rate at 64 connections (Ping) | %s %% of nginx's %s calls/s | %s |\n",
                    fixed(share * 100, 0).c_str(), thousands(theirs->result.rate()).c_str(), verdict(share >= 0.5));
    }
    for (const auto& f : idle)
        std::printf("| %u idle sessions under 100 MiB (%s) | %s MiB | %s |\n", options.idleSessions,
                    f.keepConnections ? "each with its connection open" : "connections closed",
                    fixed(mib(f.held.rssKiB), 1).c_str(),
                    verdict(f.opened == options.idleSessions && mib(f.held.rssKiB) < 100.0));
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (argc >= 2 && std::string(argv[1]) == "serve")
            return runBenchServerCommand("krp-bench", argc, argv);
        return runBenchmark(parseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-bench: %s\n", e.what());
        return 1;
    }
}
