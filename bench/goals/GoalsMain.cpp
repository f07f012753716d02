// krp-goals: the figures the terminals feel, side by side with their yardsticks, in one bounded
// run. The program itself (krpalvelin, headless) serves a SQLite database of 100,000 products:
//
//   - MonivaiheinenTuotehaku by EAN code and by type code, and Ping, at 1, 4 and 16 sessions;
//   - the same statements in this process on the SQLite C API, prepared once (1 and 2 threads)
//     and prepared for every search (1 thread), reading the file through a memory map as the
//     service does, and on 2 threads with SQLite's default read calls for comparison;
//   - session openings by one client over new connections, against nginx's handshakes;
//   - resident memory per idle kept-alive connection, with and without its session, against
//     nginx's per kept-alive connection (measured before and after opening the connections);
//
// and prints Markdown tables and the goals' ratios.
//
//   krp-goals [options]          (bench/run-bench goals builds and runs it)
//   krp-goals soak [options]     searches at a steady rate for a long time, resident memory sampled
#include "support/BenchSetup.h"
#include "InProcessSearch.h"
#include "support/LoadGenerator.h"
#include "support/NginxServer.h"
#include "OdbcYardstick.h"
#include "support/ProcessStats.h"
#include "support/ProgramUnderTest.h"
#include "support/ReportText.h"
#include "support/SearchDatabase.h"
#include "support/TlsClient.h"
#include "platform/ProcessResources.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace krp::bench;
using namespace std::chrono_literals;

struct Options {
    std::chrono::milliseconds duration{4000};
    std::chrono::milliseconds warmup{1000};
    std::vector<unsigned> concurrency{1, 4, 16};
    unsigned repeat = 3;
    std::chrono::milliseconds inProcessDuration{3000};
    std::chrono::milliseconds openDuration{4000};
    unsigned idleConnections = 400;
    unsigned clientThreads = 2;
    std::string program = KRP_PROGRAM;
    std::string nginx = "/usr/sbin/nginx";
    bool withNginx = true;
    std::chrono::seconds timeLimit{600};
    // soak
    std::chrono::seconds soakDuration{3600};
    unsigned soakRate = 200;  // searches per second
    unsigned soakClients = 4;
    std::chrono::seconds soakSample{30};
    std::string soakSettings;
    // on MariaDB over ODBC
    std::string odbc;
    std::string mariaDbDir;
    unsigned receiptSessions = 4;
};

const char* const kUsage =
    "usage: krp-goals [options]\n"
    "  --duration S            counted seconds of each call phase (4)\n"
    "  --warmup S              uncounted seconds before each call phase (1)\n"
    "  --concurrency LIST      sessions of the call phases (1,4,16)\n"
    "  --repeat N              runs of every call and opening phase; the median run is shown (3)\n"
    "  --in-process S          seconds of each in-process measure (3)\n"
    "  --open-duration S       seconds of each session-opening phase (4)\n"
    "  --idle-connections N    connections held open for the memory figures (400)\n"
    "  --program PATH          the server program (the one built beside this)\n"
    "  --nginx PATH / --no-nginx\n"
    "  --time-limit S          the whole run ends by force after S seconds (600)\n"
    "  --odbc CONNECTION-STRING --mariadb-dir DIR\n"
    "                          the program on that MariaDB server over ODBC (bench/run-bench goals --odbc\n"
    "                          starts a private one) against the statements in process through the\n"
    "                          same driver; DIR holds the server's mariadb.pid\n"
    "  --receipt-sessions N    sessions writing receipt rows in the ODBC run (4)\n"
    "       krp-goals soak [options]\n"
    "  --minutes M             length of the soak (60)\n"
    "  --rate N                searches per second, spread over the clients (200)\n"
    "  --clients N             sessions searching side by side (4)\n"
    "  --sample S              seconds between memory samples (30)\n"
    "  --settings TEXT         lines appended to asetukset.ini, e.g. \"[Loki]\\nRivimaara=20000\"\n";

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

std::string unescapeNewlines(std::string text)
{
    for (auto at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at))
        text.replace(at, 2, "\n");
    return text;
}

Options parseOptions(int argc, char** argv, int first)
{
    Options o;
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--duration") o.duration = seconds(value());
        else if (a == "--warmup") o.warmup = seconds(value());
        else if (a == "--concurrency") o.concurrency = parseList(value());
        else if (a == "--repeat") o.repeat = std::max(1u, static_cast<unsigned>(std::stoul(value())));
        else if (a == "--in-process") o.inProcessDuration = seconds(value());
        else if (a == "--open-duration") o.openDuration = seconds(value());
        else if (a == "--idle-connections") o.idleConnections = static_cast<unsigned>(std::stoul(value()));
        else if (a == "--client-threads") o.clientThreads = static_cast<unsigned>(std::stoul(value()));
        else if (a == "--program") o.program = value();
        else if (a == "--nginx") o.nginx = value();
        else if (a == "--no-nginx") o.withNginx = false;
        else if (a == "--time-limit") o.timeLimit = std::chrono::seconds(std::stoul(value()));
        else if (a == "--minutes") o.soakDuration = std::chrono::seconds(static_cast<long long>(std::stod(value()) * 60));
        else if (a == "--rate") o.soakRate = std::max(1u, static_cast<unsigned>(std::stoul(value())));
        else if (a == "--clients") o.soakClients = std::max(1u, static_cast<unsigned>(std::stoul(value())));
        else if (a == "--sample") o.soakSample = std::chrono::seconds(std::max(1ul, std::stoul(value())));
        else if (a == "--settings") o.soakSettings = unescapeNewlines(value());
        else if (a == "--odbc") o.odbc = value();
        else if (a == "--mariadb-dir") o.mariaDbDir = value();
        else if (a == "--receipt-sessions") o.receiptSessions = std::max(1u, static_cast<unsigned>(std::stoul(value())));
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    }
    return o;
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "krp-goals: %s (load %s)\n", text.c_str(), loadAverage().c_str());
}

std::string percent(double share) { return fixed(share * 100, 0) + " %"; }

// CPU time and context switches of a server over a stretch of time.
struct Usage {
    CpuTimes cpu;
    long long switches = 0;
};
Usage operator-(const Usage& a, const Usage& b)
{
    return {{a.cpu.user - b.cpu.user, a.cpu.system - b.cpu.system}, a.switches - b.switches};
}

struct CallRow {
    std::string call;
    unsigned sessions = 0;
    double rate = 0;
    double p50 = 0, p99 = 0;
    std::uint64_t errors = 0;
    std::string firstError;
    double usPerCall = 0, userUs = 0, systemUs = 0, switchesPerCall = 0, cores = 0, generatorCores = 0;
    double databaseUsPerCall = 0;  // the database server's CPU (ODBC runs)
    double minRate = 0, maxRate = 0;
};

// One phase of `call` at `sessions` sessions, with the server's CPU and context switches
// (`usage`) and, when given, the database server's CPU seconds (`databaseCpu`) per call.
CallRow measureCalls(LoadGenerator& generator, std::uint16_t port, const Call& call, unsigned sessions,
                     const Limits& limits, const std::function<Usage()>& usage,
                     const std::function<double()>& databaseCpu = {})
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
    row.call = call.name;
    row.sessions = sessions;
    row.rate = r.rate();
    row.p50 = r.percentileMs(50);
    row.p99 = r.percentileMs(99);
    row.errors = r.errors;
    row.firstError = r.firstError;
    row.generatorCores = r.generatorCores();
    if (r.operations > 0) {
        const double n = static_cast<double>(r.operations);
        row.userUs = used.cpu.user * 1e6 / n;
        row.systemUs = used.cpu.system * 1e6 / n;
        row.usPerCall = row.userUs + row.systemUs;
        row.switchesPerCall = static_cast<double>(used.switches) / n;
        row.databaseUsPerCall = databaseUsed * 1e6 / n;
    }
    if (r.seconds > 0)
        row.cores = used.cpu.total() / r.seconds;
    return row;
}

struct OpenRow {
    std::string server;
    double rate = 0, p50 = 0, p99 = 0;
    double usPerOpen = 0, userUs = 0, systemUs = 0, switchesPerOpen = 0;
    std::uint64_t errors = 0;
    std::string firstError;
    double minRate = 0, maxRate = 0;
};

OpenRow measureOpenings(const std::string& server, std::uint16_t port, bool withSession,
                        const std::function<Usage()>& usage, const Options& o)
{
    const Usage before = usage();
    const OpeningsResult r = runOpenings(port, withSession, o.openDuration, 1'000'000);
    const Usage used = usage() - before;
    OpenRow row;
    row.server = server;
    row.rate = r.rate();
    row.p50 = r.percentileMs(50);
    row.p99 = r.percentileMs(99);
    row.errors = r.errors;
    row.firstError = r.firstError;
    if (r.openings > 0) {
        const double n = static_cast<double>(r.openings);
        row.userUs = used.cpu.user * 1e6 / n;
        row.systemUs = used.cpu.system * 1e6 / n;
        row.usPerOpen = row.userUs + row.systemUs;
        row.switchesPerOpen = static_cast<double>(used.switches) / n;
    }
    return row;
}

// The run with the median rate, with the range of all runs' rates.
template <class Row>
Row medianOf(std::vector<Row> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Row& a, const Row& b) { return a.rate < b.rate; });
    Row row = runs[runs.size() / 2];
    row.minRate = runs.front().rate;
    row.maxRate = runs.back().rate;
    return row;
}

// Resident memory of a server before and after `count` connections were opened and left idle.
struct IdleRow {
    std::string what;
    unsigned connections = 0;
    long beforeKiB = 0, afterKiB = 0;
    std::string errors = "0";
    double perConnectionKiB() const
    {
        return connections ? static_cast<double>(afterKiB - beforeKiB) / connections : 0;
    }
};

// Each connection makes one request: `withSession` opens a session and calls
// TarkistaKayttooikeus and Ping in it; otherwise a request that needs no session.
IdleRow measureIdle(const std::string& what, std::uint16_t port, bool withSession, const std::function<long()>& rss,
                    unsigned count)
{
    IdleRow row;
    row.what = what;
    TlsClient client;
    std::vector<std::unique_ptr<TlsClient::Connection>> held;
    std::this_thread::sleep_for(500ms);
    row.beforeKiB = rss();
    std::uint64_t errors = 0;
    std::string firstError;
    for (unsigned i = 0; i < count; ++i) {
        try {
            auto c = client.connect(port);
            if (withSession) {
                c->checkAndPing(c->openSession(), "bench-idle-" + std::to_string(i));
            } else {
                const int status = c->exchange("GET", "/api/v1/ei-ole", {}, {});
                if (status != 404 && status != 200)
                    throw std::runtime_error("GET answered " + std::to_string(status));
            }
            held.push_back(std::move(c));
        } catch (const std::exception& e) {
            if (errors++ == 0)
                firstError = e.what();
        }
    }
    std::this_thread::sleep_for(1500ms);  // the session-created log lines fall due after 1 s
    row.afterKiB = rss();
    row.connections = static_cast<unsigned>(held.size());
    if (errors)
        row.errors = std::to_string(errors) + " (" + firstError + ")";
    return row;
}

std::string errorsText(std::uint64_t errors, const std::string& first)
{
    return errors == 0 ? "0" : std::to_string(errors) + " (" + first + ")";
}

// The machine section of the report.
void printMachine(const MachineInfo& machine)
{
    std::printf("## Machine\n\n");
    std::printf("- date: %s\n", machine.date.c_str());
    std::printf("- CPU: %s, %u cores online; memory %.1f GiB; kernel %s\n", machine.cpuModel.c_str(), machine.cores,
                machine.memoryGiB, machine.kernel.c_str());
    std::printf("- load average before the run: %s; after: %s\n", machine.loadAverage.c_str(), loadAverage().c_str());
}

// Ping and the two searches, as the terminals call them.
struct SearchCalls {
    Call ping, ean, type;
};
SearchCalls searchCalls(const SearchCodes& codes)
{
    return {{"Ping", "/api/v1/methods/Ping", "[\"Kairanet\",\"bench-{i}\"]", "{\"result\":null}"},
            {"MonivaiheinenTuotehaku, EAN code", "/api/v1/methods/MonivaiheinenTuotehaku", "[0,\"" + codes.ean + "\"]",
             "{\"result\":\"\"}"},
            {"MonivaiheinenTuotehaku, type code", "/api/v1/methods/MonivaiheinenTuotehaku",
             "[0,\"" + codes.typeCode + "\"]", "{\"result\":\"\"}"}};
}

std::filesystem::path sqlDirectory() { return std::filesystem::path(KRP_SOURCE_DIR) / "db"; }

int runGoals(const Options& o)
{
    krp::platform::raiseOpenFileLimit();
    startWatchdog("krp-goals", o.timeLimit);
    const MachineInfo machine = machineInfo();
    TempDirectory dir("krp-goals-");
    writeSelfSignedCertificate(dir.path());

    progress("building the database of 100,000 products");
    const auto built0 = std::chrono::steady_clock::now();
    const SearchCodes codes = createSearchDatabase(dir.path() / "erp.sqlite", sqlDirectory());
    const double buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - built0).count();

    // The statements in this process.
    // The connections read the file as the service's do (memory-mapped); the last row of each
    // search shows SQLite's default reads for comparison.
    struct InProcessRow {
        std::string search;
        unsigned threads;
        bool preparedOnce;
        bool memoryMapped;
        double rate;
    };
    struct InProcessCase {
        unsigned threads;
        bool preparedOnce;
        bool memoryMapped;
    };
    std::vector<InProcessRow> inProcess;
    for (const auto& [search, code] : {std::pair<std::string, std::string>{"EAN code", codes.ean},
                                       {"type code", codes.typeCode}}) {
        for (const InProcessCase c : {InProcessCase{1, true, true}, {2, true, true}, {1, false, true}, {2, true, false}}) {
            progress("in process: " + search + ", " + std::to_string(c.threads) + " thread(s)" +
                     (c.preparedOnce ? ", prepared once" : ", prepared each time") +
                     (c.memoryMapped ? ", memory-mapped" : ", read calls"));
            const InProcessResult r = runInProcessSearch(dir.path() / "erp.sqlite", code, c.threads, c.preparedOnce,
                                                         c.memoryMapped, o.inProcessDuration);
            inProcess.push_back({search, c.threads, c.preparedOnce, c.memoryMapped, r.searchesPerSecond});
        }
    }
    const auto inProcessRate = [&](const std::string& search, unsigned threads, bool once, bool mapped) {
        for (const auto& r : inProcess)
            if (r.search == search && r.threads == threads && r.preparedOnce == once && r.memoryMapped == mapped)
                return r.rate;
        return 0.0;
    };

    // Calls on the program.
    const SearchCalls searches = searchCalls(codes);
    const Call &ping = searches.ping, &ean = searches.ean, &type = searches.type;
    std::map<std::pair<std::string, unsigned>, std::vector<CallRow>> callRuns;
    std::vector<OpenRow> ourOpens, nginxOpens;
    std::string nginxNote;
    {
        progress("starting " + o.program);
        ProgramUnderTest program(o.program, dir.path(), "sqlite:erp.sqlite");
        const pid_t pid = program.pid();
        const auto usage = [pid] { return Usage{cpuTimesOf(pid), contextSwitchesOf(pid)}; };
        LoadGenerator generator(o.clientThreads);
        Limits limits;
        limits.duration = o.duration;
        limits.warmup = o.warmup;
        for (unsigned run = 1; run <= o.repeat; ++run) {
            for (const unsigned c : o.concurrency) {
                for (const Call* call : {&ean, &type, &ping}) {
                    progress(call->name + " at " + std::to_string(c) + " sessions (run " + std::to_string(run) + ")");
                    callRuns[{call->name, c}].push_back(
                        measureCalls(generator, program.port(), *call, c, limits, usage));
                }
            }
        }

        std::unique_ptr<NginxServer> nginx;
        if (o.withNginx) {
            try {
                nginx = std::make_unique<NginxServer>(o.nginx, dir.path());
                nginxNote = std::to_string(nginx->workers()) + " worker processes";
            } catch (const std::exception& e) {
                nginxNote = std::string("not measured: ") + e.what();
            }
        }
        for (unsigned run = 1; run <= o.repeat; ++run) {
            progress("session openings by one client (run " + std::to_string(run) + ")");
            ourOpens.push_back(measureOpenings("KRPalvelin", program.port(), true, usage, o));
            if (nginx) {
                progress("nginx handshakes by one client (run " + std::to_string(run) + ")");
                nginxOpens.push_back(measureOpenings(
                    "nginx", nginx->port(), false,
                    [&] { return Usage{nginx->cpuTimes(), nginx->contextSwitches()}; }, o));
            }
        }
    }

    // Memory per idle connection, each measure on a fresh server.
    std::vector<IdleRow> idle;
    {
        progress("memory of " + std::to_string(o.idleConnections) + " idle connections without sessions");
        ProgramUnderTest program(o.program, dir.path(), "sqlite:erp.sqlite");
        const pid_t pid = program.pid();
        idle.push_back(measureIdle("KRPalvelin, connection only", program.port(), false,
                                   [pid] { return memoryOf(pid).rssKiB; }, o.idleConnections));
    }
    {
        progress("memory of " + std::to_string(o.idleConnections) + " idle connections with their sessions");
        ProgramUnderTest program(o.program, dir.path(), "sqlite:erp.sqlite");
        const pid_t pid = program.pid();
        idle.push_back(measureIdle("KRPalvelin, connection with its session", program.port(), true,
                                   [pid] { return memoryOf(pid).rssKiB; }, o.idleConnections));
    }
    if (o.withNginx) {
        try {
            progress("memory of " + std::to_string(o.idleConnections) + " idle connections to nginx");
            NginxServer nginx(o.nginx, dir.path());
            idle.push_back(measureIdle("nginx", nginx.port(), false, [&] { return nginx.rssKiB(); },
                                       o.idleConnections));
        } catch (const std::exception& e) {
            nginxNote += std::string("; memory not measured: ") + e.what();
        }
    }

    // The report.
    printMachine(machine);
    std::printf("- server: %s, headless, on the SQLite file; every phase %u times, %s s counted after %s s warm-up; "
                "the tables show the run with the median rate\n",
                o.program.c_str(), o.repeat, fixed(o.duration.count() / 1000.0, 1).c_str(),
                fixed(o.warmup.count() / 1000.0, 1).c_str());
    if (!nginxNote.empty())
        std::printf("- nginx: %s\n", nginxNote.c_str());
    std::printf("- database: 100,000 products with a stock row each, 30,000 open purchase-order lines, the schema's "
                "indexes, built in %s s; EAN code %s (phase 1 finds 1 product), type code %s (phases 1 and 2 find "
                "nothing, phase 3 finds %d products)\n",
                fixed(buildSeconds, 1).c_str(), codes.ean.c_str(), codes.typeCode.c_str(), codes.typeCodeRows);

    std::printf("\n## The search's statements in process (SQLite C API)\n\n");
    std::printf("| Search | Threads | Statements | File read | Searches/s |\n|---|---:|---|---|---:|\n");
    for (const auto& r : inProcess)
        std::printf("| %s | %u | %s | %s | %s |\n", r.search.c_str(), r.threads,
                    r.preparedOnce ? "prepared once" : "prepared for every search",
                    r.memoryMapped ? "memory map (as the service)" : "read calls (SQLite's default)",
                    thousands(r.rate).c_str());

    std::printf("\n## Calls on the program (one session per kept-alive TLS connection)\n\n");
    std::printf("| Call | Sessions | Calls/s | Runs' range | p50 ms | p99 ms | Errors | Server CPU (cores) | "
                "Server CPU µs/call (user + kernel) | Context switches/call | Generator CPU (cores) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|\n");
    std::map<std::pair<std::string, unsigned>, CallRow> calls;
    for (const unsigned c : o.concurrency)
        for (const Call* call : {&ean, &type, &ping}) {
            const CallRow row = medianOf(callRuns[{call->name, c}]);
            calls[{call->name, c}] = row;
            std::printf("| %s | %u | %s | %s–%s | %s | %s | %s | %s | %s (%s + %s) | %s | %s |\n", row.call.c_str(),
                        c, thousands(row.rate).c_str(), thousands(row.minRate).c_str(),
                        thousands(row.maxRate).c_str(), fixed(row.p50, 3).c_str(), fixed(row.p99, 3).c_str(),
                        errorsText(row.errors, row.firstError).c_str(), fixed(row.cores, 2).c_str(),
                        fixed(row.usPerCall, 0).c_str(), fixed(row.userUs, 0).c_str(),
                        fixed(row.systemUs, 0).c_str(), fixed(row.switchesPerCall, 1).c_str(),
                        fixed(row.generatorCores, 2).c_str());
        }

    std::printf("\n## Session opening by one client (new connection, full TLS handshake, POST /api/v1/session)\n\n");
    std::printf("| Server | Openings/s | Runs' range | p50 ms | p99 ms | Errors | Server CPU µs/opening (user + "
                "kernel) | Context switches/opening |\n|---|---:|---:|---:|---:|---|---:|---:|\n");
    std::optional<OpenRow> ours, theirs;
    if (!ourOpens.empty())
        ours = medianOf(ourOpens);
    if (!nginxOpens.empty())
        theirs = medianOf(nginxOpens);
    for (const auto* row : {ours ? &*ours : nullptr, theirs ? &*theirs : nullptr}) {
        if (!row)
            continue;
        std::printf("| %s | %s | %s–%s | %s | %s | %s | %s (%s + %s) | %s |\n", row->server.c_str(),
                    thousands(row->rate).c_str(), thousands(row->minRate).c_str(), thousands(row->maxRate).c_str(),
                    fixed(row->p50, 3).c_str(), fixed(row->p99, 3).c_str(),
                    errorsText(row->errors, row->firstError).c_str(), fixed(row->usPerOpen, 0).c_str(),
                    fixed(row->userUs, 0).c_str(), fixed(row->systemUs, 0).c_str(),
                    fixed(row->switchesPerOpen, 1).c_str());
    }
    std::printf("\nnginx answers the same POST with 200; the service's sessions stay open (the client drops the "
                "connection), as a terminal leaves them.\n");

    std::printf("\n## Memory per idle kept-alive connection\n\n");
    std::printf("| Server | Connections | RSS before KiB | RSS after KiB | Per connection KiB | Errors |\n"
                "|---|---:|---:|---:|---:|---|\n");
    for (const auto& r : idle)
        std::printf("| %s | %u | %ld | %ld | %s | %s |\n", r.what.c_str(), r.connections, r.beforeKiB, r.afterKiB,
                    fixed(r.perConnectionKiB(), 1).c_str(), r.errors.c_str());
    std::printf("\nEach connection made one request and then stayed open: a GET of an unknown path (404 from the "
                "service, 200 from nginx), or the session's opening, TarkistaKayttooikeus and Ping. nginx's figure "
                "sums its master and workers.\n");

    std::printf("\n## Goals\n\n| Goal | Measured | Ratio | Met |\n|---|---|---:|---|\n");
    const auto call = [&](const std::string& name, unsigned c) -> const CallRow* {
        const auto it = calls.find({name, c});
        return it == calls.end() ? nullptr : &it->second;
    };
    if (const CallRow* e = call(ean.name, 16); e && call(ping.name, 16)) {
        const double share = e->rate / call(ping.name, 16)->rate;
        std::printf("| search by EAN code at 16 sessions: at least 50 %% of Ping's rate | %s against %s calls/s | %s "
                    "| %s |\n",
                    thousands(e->rate).c_str(), thousands(call(ping.name, 16)->rate).c_str(), percent(share).c_str(),
                    verdict(share >= 0.5));
        std::printf("| search by EAN code at 16 sessions: at most 100 µs of server CPU per call | %s µs | %s | %s |\n",
                    fixed(e->usPerCall, 0).c_str(), percent(e->usPerCall / 100.0).c_str(),
                    verdict(e->usPerCall <= 100.0));
    }
    if (const CallRow* t = call(type.name, 16)) {
        const double yardstick = inProcessRate("type code", 2, true, true);
        const double share = yardstick > 0 ? t->rate / yardstick : 0;
        std::printf("| search by type code at 16 sessions: at least 60 %% of the in-process rate on 2 threads | %s "
                    "against %s searches/s | %s | %s |\n",
                    thousands(t->rate).c_str(), thousands(yardstick).c_str(), percent(share).c_str(),
                    verdict(share >= 0.6));
    }
    if (ours && theirs && theirs->usPerOpen > 0 && theirs->rate > 0) {
        const double cpu = ours->usPerOpen / theirs->usPerOpen;
        const double rate = ours->rate / theirs->rate;
        std::printf("| session opening: server CPU at most 2× nginx's per handshake | %s against %s µs | %s× | %s |\n",
                    fixed(ours->usPerOpen, 0).c_str(), fixed(theirs->usPerOpen, 0).c_str(), fixed(cpu, 2).c_str(),
                    verdict(cpu <= 2.0));
        std::printf("| session opening: one client's rate at least 80 %% of nginx's | %s against %s per second | %s "
                    "| %s |\n",
                    thousands(ours->rate).c_str(), thousands(theirs->rate).c_str(), percent(rate).c_str(),
                    verdict(rate >= 0.8));
    }
    const IdleRow* bare = nullptr;
    const IdleRow* withSession = nullptr;
    const IdleRow* nginxIdle = nullptr;
    for (const auto& r : idle) {
        if (r.what == "nginx")
            nginxIdle = &r;
        else if (r.what.find("session") != std::string::npos)
            withSession = &r;
        else
            bare = &r;
    }
    if (bare && nginxIdle && nginxIdle->perConnectionKiB() > 0) {
        const double ratio = bare->perConnectionKiB() / nginxIdle->perConnectionKiB();
        std::printf("| idle kept-alive connection: at most 2× nginx's memory | %s against %s KiB | %s× | %s |\n",
                    fixed(bare->perConnectionKiB(), 1).c_str(), fixed(nginxIdle->perConnectionKiB(), 1).c_str(),
                    fixed(ratio, 2).c_str(), verdict(ratio <= 2.0));
    }
    if (withSession)
        std::printf("| idle kept-alive connection with its session: at most 40 KiB | %s KiB | %s | %s |\n",
                    fixed(withSession->perConnectionKiB(), 1).c_str(),
                    percent(withSession->perConnectionKiB() / 40.0).c_str(),
                    verdict(withSession->perConnectionKiB() <= 40.0));
    std::fflush(stdout);
    return 0;
}

// The receipt list of LisaaVarastoontulorivit with `rows` rows whose ids start with `prefix`
// and carry the client's and the call's numbers, so that no two calls write the same key.
std::string receiptList(const std::string& prefix, int rows)
{
    std::string items;
    for (int r = 0; r < rows; ++r) {
        if (r > 0)
            items += ",";
        items += R"({"type":"UTyypit.TVarastoontulorivi","id":)" + std::to_string(r + 2) + R"(,"fields":{"id":")" +
                 prefix + "{i}-{n}-" + std::to_string(r) +
                 R"(","ostotilausnro":5001,"tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001",)"
                 R"("saapuvamaara":2,"kerattymaara":2,"keruupaateid":"penkki"}})";
    }
    return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
           R"("FOwnsObjects":true,"FListHelper":[)" +
           std::to_string(rows) + R"(],"FItems":[)" + items + "]}}]";
}

pid_t mariaDbPid(const std::string& directory)
{
    std::ifstream in(directory + "/mariadb.pid");
    long pid = 0;
    in >> pid;
    if (pid <= 0)
        throw std::runtime_error("no server pid in " + directory + "/mariadb.pid");
    return static_cast<pid_t>(pid);
}

// The program on MariaDB over ODBC against the same statements run in this process through the
// same driver, interleaved: every run measures the yardstick and then the program.
int runOdbcGoals(const Options& o)
{
    krp::platform::raiseOpenFileLimit();
    startWatchdog("krp-goals", o.timeLimit);
    const MachineInfo machine = machineInfo();
    TempDirectory dir("krp-goals-odbc-");
    writeSelfSignedCertificate(dir.path());
    const pid_t databasePid = mariaDbPid(o.mariaDbDir);
    const auto databaseCpu = [databasePid] { return cpuTimesOf(databasePid).total(); };

    progress("filling MariaDB with 100,000 products");
    const auto built0 = std::chrono::steady_clock::now();
    const SearchCodes codes = fillOdbcSearchDatabase(o.odbc);
    const double buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - built0).count();

    constexpr int kReceiptRows = 50;
    struct Yardstick {
        std::string what;
        unsigned threads;
        bool kept;
        double rate = 0, databaseUs = 0, minRate = 0, maxRate = 0;
    };
    std::map<std::tuple<std::string, unsigned, bool>, std::vector<Yardstick>> yardRuns;
    const auto measureYardstick = [&](Yardstick y, const std::function<double()>& run) {
        const double cpu0 = databaseCpu();
        const auto t0 = std::chrono::steady_clock::now();
        y.rate = run();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double operations = y.rate * seconds;
        y.databaseUs = operations > 0 ? (databaseCpu() - cpu0) * 1e6 / operations : 0;
        yardRuns[{y.what, y.threads, y.kept}].push_back(y);
    };
    struct YardstickCase {
        unsigned threads;
        bool kept;
    };
    const YardstickCase searchCases[] = {{2, true}, {16, true}, {2, false}, {16, false}};

    const SearchCalls searches = searchCalls(codes);
    const Call &ping = searches.ping, &ean = searches.ean, &type = searches.type;
    const std::string receiptsName = "LisaaVarastoontulorivit, " + std::to_string(kReceiptRows) + " rows";
    std::map<std::pair<std::string, unsigned>, std::vector<CallRow>> callRuns;
    {
        progress("starting " + o.program + " on MariaDB");
        ProgramUnderTest program(o.program, dir.path(), "odbc:" + o.odbc);
        const pid_t pid = program.pid();
        const auto usage = [pid] { return Usage{cpuTimesOf(pid), contextSwitchesOf(pid)}; };
        LoadGenerator generator(o.clientThreads);
        Limits limits;
        limits.duration = o.duration;
        limits.warmup = o.warmup;
        for (unsigned run = 1; run <= o.repeat; ++run) {
            const std::string runText = " (run " + std::to_string(run) + ")";
            for (const auto& [search, code] : {std::pair<std::string, std::string>{"EAN code", codes.ean},
                                               {"type code", codes.typeCode}})
                for (const YardstickCase c : searchCases) {
                    progress("in process over ODBC: " + search + ", " + std::to_string(c.threads) + " threads, " +
                             (c.kept ? "statements kept" : "prepared every time") + runText);
                    measureYardstick({search, c.threads, c.kept}, [&] {
                        return runOdbcSearch(o.odbc, code, c.threads, c.kept, o.inProcessDuration);
                    });
                }
            progress("in process over ODBC: receipt rows, " + std::to_string(o.receiptSessions) + " threads" + runText);
            measureYardstick({"receipt rows", o.receiptSessions, true}, [&] {
                return runOdbcReceiptRows(o.odbc, "GY" + std::to_string(run) + "-", o.receiptSessions,
                                          o.inProcessDuration);
            });
            for (const unsigned c : o.concurrency)
                for (const Call* call : {&ean, &type, &ping}) {
                    progress(call->name + " at " + std::to_string(c) + " sessions" + runText);
                    callRuns[{call->name, c}].push_back(
                        measureCalls(generator, program.port(), *call, c, limits, usage, databaseCpu));
                }
            const Call receipts{receiptsName, "/api/v1/methods/LisaaVarastoontulorivit",
                                receiptList("GB" + std::to_string(run) + "-", kReceiptRows), "{\"result\":\"\"}"};
            progress(receipts.name + " at " + std::to_string(o.receiptSessions) + " sessions" + runText);
            callRuns[{receipts.name, o.receiptSessions}].push_back(
                measureCalls(generator, program.port(), receipts, o.receiptSessions, limits, usage, databaseCpu));
        }
    }

    printMachine(machine);
    std::printf("- server: %s, headless, on MariaDB over ODBC (%s); every phase %u times, interleaved with the "
                "in-process runs, %s s counted after %s s warm-up; the tables show the run with the median rate\n",
                o.program.c_str(), o.odbc.c_str(), o.repeat, fixed(o.duration.count() / 1000.0, 1).c_str(),
                fixed(o.warmup.count() / 1000.0, 1).c_str());
    std::printf("- database: 100,000 products with a stock row each, 30,000 open purchase-order lines, the schema's "
                "indexes, filled in %s s; EAN code %s, type code %s (phase 3 finds %d products); database server CPU "
                "from /proc of pid %d\n",
                fixed(buildSeconds, 1).c_str(), codes.ean.c_str(), codes.typeCode.c_str(), codes.typeCodeRows,
                static_cast<int>(databasePid));

    std::printf("\n## The statements in process through the same ODBC driver\n\n");
    std::printf("| Work | Threads | Statements | Per second | Runs' range | Database server CPU µs each |\n"
                "|---|---:|---|---:|---:|---:|\n");
    std::map<std::tuple<std::string, unsigned, bool>, Yardstick> yardsticks;
    for (auto& [key, runs] : yardRuns) {
        const Yardstick y = medianOf(runs);
        yardsticks[key] = y;
        std::printf("| %s | %u | %s | %s | %s–%s | %s |\n", y.what.c_str(), y.threads,
                    y.kept ? "kept (prepared once)" : "prepared every time", thousands(y.rate).c_str(),
                    thousands(y.minRate).c_str(), thousands(y.maxRate).c_str(), fixed(y.databaseUs, 0).c_str());
    }

    std::printf("\n## Calls on the program over ODBC (one session per kept-alive TLS connection)\n\n");
    std::printf("| Call | Sessions | Calls/s | Runs' range | p50 ms | p99 ms | Errors | Server CPU µs/call (user + "
                "kernel) | Context switches/call | Database server CPU µs/call |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    std::map<std::pair<std::string, unsigned>, CallRow> calls;
    for (auto& [key, runs] : callRuns) {
        const CallRow row = medianOf(runs);
        calls[key] = row;
        std::printf("| %s | %u | %s | %s–%s | %s | %s | %s | %s (%s + %s) | %s | %s |\n", row.call.c_str(),
                    row.sessions, thousands(row.rate).c_str(), thousands(row.minRate).c_str(),
                    thousands(row.maxRate).c_str(), fixed(row.p50, 3).c_str(), fixed(row.p99, 3).c_str(),
                    errorsText(row.errors, row.firstError).c_str(), fixed(row.usPerCall, 0).c_str(),
                    fixed(row.userUs, 0).c_str(), fixed(row.systemUs, 0).c_str(),
                    fixed(row.switchesPerCall, 1).c_str(), fixed(row.databaseUsPerCall, 0).c_str());
    }

    std::printf("\n## Goals on ODBC\n\n| Goal | Measured | Ratio | Met |\n|---|---|---:|---|\n");
    double bestEan = 0;
    for (const auto& [key, y] : yardsticks)
        if (std::get<0>(key) == "EAN code")
            bestEan = std::max(bestEan, y.rate);
    if (const auto e = calls.find({ean.name, 16}); e != calls.end()) {
        const double share = bestEan > 0 ? e->second.rate / bestEan : 0;
        std::printf("| search by EAN code at 16 sessions: at least 25 %% of the in-process best | %s against %s "
                    "searches/s | %s | %s |\n",
                    thousands(e->second.rate).c_str(), thousands(bestEan).c_str(), percent(share).c_str(),
                    verdict(share >= 0.25));
        std::printf("| search by EAN code at 16 sessions: at most 100 µs of server CPU per call | %s µs | %s | %s |\n",
                    fixed(e->second.usPerCall, 0).c_str(), percent(e->second.usPerCall / 100.0).c_str(),
                    verdict(e->second.usPerCall <= 100.0));
    }
    const auto receiptYardstick = yardsticks.find({"receipt rows", o.receiptSessions, true});
    if (const auto r = calls.find({receiptsName, o.receiptSessions});
        r != calls.end() && receiptYardstick != yardsticks.end()) {
        const double rows = r->second.rate * kReceiptRows;
        const double share = receiptYardstick->second.rate > 0 ? rows / receiptYardstick->second.rate : 0;
        std::printf("| receipt rows at %u sessions: at least 80 %% of the in-process rate | %s against %s rows/s | %s "
                    "| %s |\n",
                    o.receiptSessions, thousands(rows).c_str(), thousands(receiptYardstick->second.rate).c_str(),
                    percent(share).c_str(), verdict(share >= 0.8));
    }
    std::fflush(stdout);
    return 0;
}

// Searches at a steady rate by a few terminals for a long time, with the resident memory of
// the program sampled as it goes: the event log must stop growing once it holds its limit.
int runSoak(const Options& o)
{
    krp::platform::raiseOpenFileLimit();
    TempDirectory dir("krp-soak-");
    writeSelfSignedCertificate(dir.path());
    progress("building the database of 100,000 products");
    const SearchCodes codes = createSearchDatabase(dir.path() / "erp.sqlite", sqlDirectory());
    ProgramUnderTest program(o.program, dir.path(), "sqlite:erp.sqlite", o.soakSettings);
    const pid_t pid = program.pid();

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> searches{0}, errors{0};
    std::vector<std::thread> clients;
    const auto interval = std::chrono::microseconds(1'000'000ull * o.soakClients / o.soakRate);
    for (unsigned t = 0; t < o.soakClients; ++t) {
        clients.emplace_back([&, t] {
            TlsClient client;
            std::unique_ptr<TlsClient::Connection> c;
            std::string session;
            auto next = std::chrono::steady_clock::now();
            for (std::uint64_t i = 0; !stop; ++i) {
                try {
                    if (!c) {
                        c = client.connect(program.port());
                        session = c->openSession();
                    }
                    // EAN codes, type codes, and now and then a long text typed by hand that no
                    // phase finds: the log's lines vary in length as in real use.
                    std::string code = i % 3 == 0 ? codes.typeCode : codes.ean;
                    if (i % 10 == 7)
                        code = "käsin kirjoitettu hakuteksti " + std::to_string(t) + "-" + std::to_string(i) +
                               std::string(60, 'x');
                    std::string answer;
                    if (c->exchange("POST", "/api/v1/methods/MonivaiheinenTuotehaku", "Bearer " + session,
                                    "[0,\"" + code + "\"]", &answer) != 200 ||
                        answer != "{\"result\":\"\"}")
                        throw std::runtime_error("search answered " + answer);
                    ++searches;
                } catch (const std::exception&) {
                    ++errors;
                    c.reset();
                    std::this_thread::sleep_for(100ms);
                }
                next += interval;
                std::this_thread::sleep_until(next);
            }
        });
    }

    std::printf("| Minutes | Searches | Errors | RSS MiB | Peak RSS MiB | Load |\n|---:|---:|---:|---:|---:|---|\n");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + o.soakDuration;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const MemoryUse m = memoryOf(pid);
        std::printf("| %s | %llu | %llu | %s | %s | %s |\n",
                    fixed(std::chrono::duration<double>(now - start).count() / 60.0, 1).c_str(),
                    static_cast<unsigned long long>(searches.load()), static_cast<unsigned long long>(errors.load()),
                    fixed(m.rssKiB / 1024.0, 1).c_str(), fixed(m.peakKiB / 1024.0, 1).c_str(), loadAverage().c_str());
        std::fflush(stdout);
        if (now >= end)
            break;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(o.soakSample, end - now));
    }
    stop = true;
    for (auto& c : clients)
        c.join();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (argc >= 2 && std::string(argv[1]) == "soak")
            return runSoak(parseOptions(argc, argv, 2));
        const Options o = parseOptions(argc, argv, 1);
        if (!o.odbc.empty() || !o.mariaDbDir.empty()) {
            if (o.odbc.empty() || o.mariaDbDir.empty())
                throw std::invalid_argument("--odbc and --mariadb-dir go together");
            return runOdbcGoals(o);
        }
        return runGoals(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-goals: %s\n", e.what());
        return 1;
    }
}
