// The goals on the SQLite file: the program itself (krpalvelin, headless) on 100,000 products
// against the statements in this process and against nginx.
#include "CallMeasures.h"
#include "Goals.h"
#include "InProcessSearch.h"
#include "support/BenchSetup.h"
#include "support/GoalTable.h"
#include "support/NginxServer.h"
#include "support/ProgramUnderTest.h"
#include "support/ReportText.h"
#include "platform/core/ProcessResources.h"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>

namespace krp::bench {

namespace {

struct InProcessRow {
    std::string search;
    unsigned threads;
    bool preparedOnce;
    bool memoryMapped;
    double rate;
};

// The statements in this process. The connections read the file as the service's do
// (memory-mapped); the last case of each search shows SQLite's default reads for comparison.
std::vector<InProcessRow> measureInProcess(const GoalsOptions& o, const std::filesystem::path& database,
                                           const SearchCodes& codes)
{
    struct Case {
        unsigned threads;
        bool preparedOnce;
        bool memoryMapped;
    };
    std::vector<InProcessRow> rows;
    for (const auto& [search, code] :
         {std::pair<std::string, std::string>{"EAN code", codes.ean}, {"type code", codes.typeCode}}) {
        for (const Case c : {Case{1, true, true}, {2, true, true}, {1, false, true}, {2, true, false}}) {
            progress("in process: " + search + ", " + std::to_string(c.threads) + " thread(s)" +
                     (c.preparedOnce ? ", prepared once" : ", prepared each time") +
                     (c.memoryMapped ? ", memory-mapped" : ", read calls"));
            const InProcessResult r =
                runInProcessSearch(database, code, c.threads, c.preparedOnce, c.memoryMapped, o.inProcessDuration);
            rows.push_back({search, c.threads, c.preparedOnce, c.memoryMapped, r.searchesPerSecond});
        }
    }
    return rows;
}

struct ProgramFigures {
    std::map<std::pair<std::string, unsigned>, CallRow> calls;  // median runs by call and sessions
    std::optional<OpenRow> ours, nginxOpens;
    std::string nginxNote;
};

// Calls at each concurrency, then session openings against nginx's handshakes, on one program.
ProgramFigures measureProgram(const GoalsOptions& o, const std::filesystem::path& dir, const SearchCalls& searches)
{
    ProgramFigures f;
    progress("starting " + o.program);
    ProgramUnderTest program(programOn(o.program, dir, "sqlite:erp.sqlite"));
    const pid_t pid = program.pid();
    const auto usage = [pid] { return usageOf(pid); };
    LoadGenerator generator(o.clientThreads);
    const Limits limits = callLimits(o);
    std::map<std::pair<std::string, unsigned>, std::vector<CallRow>> runs;
    for (unsigned run = 1; run <= o.repeat; ++run)
        for (const unsigned c : o.concurrency)
            for (const Call* call : {&searches.ean, &searches.type, &searches.ping}) {
                progress(call->name + " at " + std::to_string(c) + " sessions (run " + std::to_string(run) + ")");
                runs[{call->name, c}].push_back(measureCalls(generator, program.port(), *call, c, limits, usage));
            }
    for (auto& [key, list] : runs)
        f.calls[key] = medianOf(list);

    std::unique_ptr<NginxServer> nginx;
    if (o.withNginx) {
        try {
            nginx = std::make_unique<NginxServer>(o.nginx, dir);
            f.nginxNote = std::to_string(nginx->workers()) + " worker processes";
        } catch (const std::exception& e) {
            f.nginxNote = std::string("not measured: ") + e.what();
        }
    }
    std::vector<OpenRow> ours, theirs;
    for (unsigned run = 1; run <= o.repeat; ++run) {
        progress("session openings by one client (run " + std::to_string(run) + ")");
        ours.push_back(measureOpenings(generator, "KRPalvelin", program.port(), true, usage, o.openDuration));
        if (nginx) {
            progress("nginx handshakes by one client (run " + std::to_string(run) + ")");
            theirs.push_back(measureOpenings(
                generator, "nginx", nginx->port(), false,
                [&] {
                    return Usage{nginx->cpuTimes(), nginx->contextSwitches()};
                },
                o.openDuration));
        }
    }
    f.ours = medianOf(ours);
    if (!theirs.empty())
        f.nginxOpens = medianOf(theirs);
    return f;
}

struct IdleFigures {
    std::optional<IdleRow> bare, withSession, nginx;
};

// Memory per idle connection, each measure on a fresh server.
IdleFigures measureIdleMemory(const GoalsOptions& o, const std::filesystem::path& dir, std::string& nginxNote)
{
    IdleFigures f;
    LoadGenerator generator(o.clientThreads);
    const std::string n = std::to_string(o.idleConnections);
    for (const bool withSession : {false, true}) {
        progress("memory of " + n + " idle connections" + (withSession ? " with their sessions" : " without sessions"));
        ProgramUnderTest program(programOn(o.program, dir, "sqlite:erp.sqlite"));
        const pid_t pid = program.pid();
        const IdleRow row = measureIdle(
            generator, withSession ? "KRPalvelin, connection with its session" : "KRPalvelin, connection only",
            program.port(), withSession, [pid] { return memoryOf(pid).rssKiB; }, o.idleConnections);
        (withSession ? f.withSession : f.bare) = row;
    }
    if (o.withNginx) {
        try {
            progress("memory of " + n + " idle connections to nginx");
            NginxServer nginx(o.nginx, dir);
            f.nginx = measureIdle(
                generator, "nginx", nginx.port(), false, [&] { return nginx.rssKiB(); }, o.idleConnections);
        } catch (const std::exception& e) {
            nginxNote += std::string("; memory not measured: ") + e.what();
        }
    }
    return f;
}

void printInProcess(const std::vector<InProcessRow>& rows)
{
    std::printf("\n## The search's statements in process (SQLite C API)\n\n");
    std::printf("| Search | Threads | Statements | File read | Searches/s |\n|---|---:|---|---|---:|\n");
    for (const auto& r : rows)
        std::printf("| %s | %u | %s | %s | %s |\n", r.search.c_str(), r.threads,
                    r.preparedOnce ? "prepared once" : "prepared for every search",
                    r.memoryMapped ? "memory map (as the service)" : "read calls (SQLite's default)",
                    thousands(r.rate).c_str());
}

void printCalls(const ProgramFigures& f)
{
    printCallTable("Calls on the program (one session per kept-alive TLS connection)", f.calls,
                   CallColumns::LoadClient);
    std::printf("\n## Session opening by one client (new connection, full TLS handshake, POST /api/v1/session)\n\n");
    std::printf(
        "| Server | Openings/s | Runs' range | p50 ms | p99 ms | Errors | Server CPU µs/opening (user + "
        "kernel) | Context switches/opening |\n|---|---:|---:|---:|---:|---|---:|---:|\n");
    for (const auto* row : {f.ours ? &*f.ours : nullptr, f.nginxOpens ? &*f.nginxOpens : nullptr}) {
        if (!row)
            continue;
        std::printf("| %s | %s | %s–%s | %s | %s | %s | %s (%s + %s) | %s |\n", row->server.c_str(),
                    thousands(row->rate).c_str(), thousands(row->minRate).c_str(), thousands(row->maxRate).c_str(),
                    fixed(row->p50, 3).c_str(), fixed(row->p99, 3).c_str(),
                    errorsText(row->errors, row->firstError).c_str(), fixed(row->usPerOp, 0).c_str(),
                    fixed(row->userUs, 0).c_str(), fixed(row->systemUs, 0).c_str(),
                    fixed(row->switchesPerOp, 1).c_str());
    }
    std::printf(
        "\nnginx answers the same POST with 200; the service's sessions stay open (the client drops the "
        "connection), as a terminal leaves them.\n");
}

void printIdle(const IdleFigures& f)
{
    std::printf("\n## Memory per idle kept-alive connection\n\n");
    std::printf(
        "| Server | Connections | RSS before KiB | RSS after KiB | Per connection KiB | Errors |\n"
        "|---|---:|---:|---:|---:|---|\n");
    for (const auto* r :
         {f.bare ? &*f.bare : nullptr, f.withSession ? &*f.withSession : nullptr, f.nginx ? &*f.nginx : nullptr})
        if (r)
            std::printf("| %s | %u | %ld | %ld | %s | %s |\n", r->what.c_str(), r->connections, r->beforeKiB,
                        r->afterKiB, fixed(r->perConnectionKiB(), 1).c_str(), r->errors.c_str());
    std::printf(
        "\nEach connection made one request and then stayed open: a GET of an unknown path (404 from the "
        "service, 200 from nginx), or the session's opening, TarkistaKayttooikeus and Ping. nginx's figure "
        "sums its master and workers.\n");
}

GoalTable sqliteGoals(const ProgramFigures& p, const IdleFigures& idle, const std::vector<InProcessRow>& inProcess,
                      const SearchCalls& searches)
{
    GoalTable goals;
    const auto call = [&](const Call& c, unsigned sessions) -> const CallRow* {
        const auto it = p.calls.find({c.name, sessions});
        return it == p.calls.end() ? nullptr : &it->second;
    };
    const CallRow* ean = call(searches.ean, 16);
    const CallRow* ping = call(searches.ping, 16);
    const CallRow* type = call(searches.type, 16);
    if (ean && ping) {
        goals.add({"search by EAN code at 16 sessions, against Ping", "calls/s", ean->rate, ping->rate,
                   "Ping at 16 sessions", 0.5, Comparison::AtLeast, 0,
                   errorsFault(ean->errors + ping->errors, ean->errors ? ean->firstError : ping->firstError)});
        goals.add({"search by EAN code at 16 sessions: server CPU per call", "µs", ean->usPerOp, std::nullopt, "", 100,
                   Comparison::AtMost, 0, errorsFault(ean->errors, ean->firstError)});
    } else {
        goals.addUnmeasured("search by EAN code at 16 sessions", "--concurrency lacks 16");
    }
    double yardstick = 0;
    for (const auto& r : inProcess)
        if (r.search == "type code" && r.threads == 2 && r.preparedOnce && r.memoryMapped)
            yardstick = r.rate;
    if (type)
        goals.add({"search by type code at 16 sessions, against the statements in process on 2 threads", "searches/s",
                   type->rate, yardstick, "in process", 0.6, Comparison::AtLeast, 0,
                   errorsFault(type->errors, type->firstError)});
    else
        goals.addUnmeasured("search by type code at 16 sessions", "--concurrency lacks 16");
    if (p.ours && p.nginxOpens) {
        const std::string fault = errorsFault(p.ours->errors + p.nginxOpens->errors,
                                              p.ours->errors ? p.ours->firstError : p.nginxOpens->firstError);
        goals.add({"session opening: server CPU per opening, against nginx's per handshake", "µs", p.ours->usPerOp,
                   p.nginxOpens->usPerOp, "nginx", 2.0, Comparison::AtMost, 0, fault});
        goals.add({"session opening: one client's rate, against nginx's", "per s", p.ours->rate, p.nginxOpens->rate,
                   "nginx", 0.8, Comparison::AtLeast, 0, fault});
    } else {
        goals.addUnmeasured("session opening against nginx", "nginx " + p.nginxNote);
    }
    if (idle.bare && idle.nginx)
        goals.add({"idle kept-alive connection: memory, against nginx's", "KiB", idle.bare->perConnectionKiB(),
                   idle.nginx->perConnectionKiB(), "nginx", 2.0, Comparison::AtMost, 1,
                   idle.bare->errors == "0" ? "" : idle.bare->errors});
    else
        goals.addUnmeasured("idle kept-alive connection against nginx", "nginx " + p.nginxNote);
    if (idle.withSession)
        goals.add({"idle kept-alive connection with its session: memory", "KiB", idle.withSession->perConnectionKiB(),
                   std::nullopt, "", 40, Comparison::AtMost, 1,
                   idle.withSession->errors == "0" ? "" : idle.withSession->errors});
    return goals;
}

}  // namespace

int runSqliteGoals(const GoalsOptions& o)
{
    const GoalsRun run(o, "krp-goals-");
    const TempDirectory& dir = run.dir;
    progress("building the database of 100,000 products");
    double buildSeconds = 0;
    const SearchCodes codes =
        timed(buildSeconds, [&] { return createSearchDatabase(dir.path() / "erp.sqlite", sqlDirectory()); });

    const SearchCalls searches = searchCalls(codes);
    const std::vector<InProcessRow> inProcess = measureInProcess(o, dir.path() / "erp.sqlite", codes);
    ProgramFigures program = measureProgram(o, dir.path(), searches);
    const IdleFigures idle = measureIdleMemory(o, dir.path(), program.nginxNote);

    printMachine(run.machine);
    std::printf(
        "- server: %s, headless, on the SQLite file; every phase %u times, %s s counted after %s s warm-up; "
        "the tables show the run with the median rate\n",
        o.program.c_str(), o.repeat, fixed(o.duration.count() / 1000.0, 1).c_str(),
        fixed(o.warmup.count() / 1000.0, 1).c_str());
    if (!program.nginxNote.empty())
        std::printf("- nginx: %s\n", program.nginxNote.c_str());
    std::printf(
        "- database: 100,000 products with a stock row each, 30,000 open purchase-order lines, the schema's "
        "indexes, built in %s s; EAN code %s (phase 1 finds 1 product), type code %s (phases 1 and 2 find "
        "nothing, phase 3 finds %d products)\n",
        fixed(buildSeconds, 1).c_str(), codes.ean.c_str(), codes.typeCode.c_str(), codes.typeCodeRows);
    printInProcess(inProcess);
    printCalls(program);
    printIdle(idle);
    const GoalTable goals = sqliteGoals(program, idle, inProcess, searches);
    goals.print("Goals");
    return goals.exitStatus();
}

}  // namespace krp::bench
