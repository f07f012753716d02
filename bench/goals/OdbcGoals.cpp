// The goals on MariaDB over ODBC: the program against the same statements run in this process
// through the same driver, interleaved: every run measures the yardstick and then the program.
#include "CallMeasures.h"
#include "Goals.h"
#include "OdbcYardstick.h"
#include "support/BenchSetup.h"
#include "support/GoalTable.h"
#include "support/ProcessStats.h"
#include "support/ReportText.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>

#include <unistd.h>

namespace krp::bench {

namespace {

constexpr int kReceiptRows = 50;

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

struct Yardstick {
    std::string what;
    unsigned threads = 0;
    bool kept = true;
    double rate = 0, databaseUs = 0, minRate = 0, maxRate = 0;
    CpuTimes ownUs{};  // this process's CPU per operation: the driver's own cost, as a floor for the program's
};
using YardstickKey = std::tuple<std::string, unsigned, bool>;

struct OdbcFigures {
    std::map<YardstickKey, Yardstick> yardsticks;               // median runs
    std::map<std::pair<std::string, unsigned>, CallRow> calls;  // median runs
    std::string receiptsName;
};

// Every run: the in-process yardsticks, then the program's calls at each concurrency and the
// receipt rows.
OdbcFigures measureInterleaved(const GoalsOptions& o, const std::filesystem::path& dir, const SearchCodes& codes,
                               const std::function<double()>& databaseCpu)
{
    OdbcFigures f;
    f.receiptsName = "LisaaVarastoontulorivit, " + std::to_string(kReceiptRows) + " rows";
    std::map<YardstickKey, std::vector<Yardstick>> yardRuns;
    const auto measureYardstick = [&](Yardstick y, const std::function<double()>& run) {
        const double cpu0 = databaseCpu();
        const CpuTimes own0 = cpuTimesOf(::getpid());
        const auto t0 = std::chrono::steady_clock::now();
        y.rate = run();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double operations = y.rate * seconds;
        const CpuTimes own1 = cpuTimesOf(::getpid());
        if (operations > 0) {
            y.databaseUs = (databaseCpu() - cpu0) * 1e6 / operations;
            y.ownUs.user = (own1.user - own0.user) * 1e6 / operations;
            y.ownUs.system = (own1.system - own0.system) * 1e6 / operations;
        }
        yardRuns[{y.what, y.threads, y.kept}].push_back(y);
    };
    struct Case {
        unsigned threads;
        bool kept;
    };
    const Case searchCases[] = {{2, true}, {16, true}, {2, false}, {16, false}};
    const SearchCalls searches = searchCalls(codes);
    std::map<std::pair<std::string, unsigned>, std::vector<CallRow>> callRuns;

    progress("starting " + o.program + " on MariaDB");
    ProgramUnderTest program(programOn(o.program, dir, "odbc:" + o.odbc));
    const pid_t pid = program.pid();
    const auto usage = [pid] { return usageOf(pid); };
    LoadGenerator generator(o.clientThreads);
    const Limits limits = callLimits(o);
    for (unsigned run = 1; run <= o.repeat; ++run) {
        const std::string runText = " (run " + std::to_string(run) + ")";
        for (const auto& [search, code] :
             {std::pair<std::string, std::string>{"EAN code", codes.ean}, {"type code", codes.typeCode}})
            for (const Case c : searchCases) {
                progress("in process over ODBC: " + search + ", " + std::to_string(c.threads) + " threads, " +
                         (c.kept ? "statements kept" : "prepared every time") + runText);
                measureYardstick({search, c.threads, c.kept},
                                 [&] { return runOdbcSearch(o.odbc, code, c.threads, c.kept, o.inProcessDuration); });
            }
        progress("in process over ODBC: receipt rows, " + std::to_string(o.receiptSessions) + " threads" + runText);
        measureYardstick({"receipt rows", o.receiptSessions, true}, [&] {
            return runOdbcReceiptRows(o.odbc, "GY" + std::to_string(run) + "-", o.receiptSessions, o.inProcessDuration);
        });
        for (const unsigned c : o.concurrency)
            for (const Call* call : {&searches.ean, &searches.type, &searches.ping}) {
                progress(call->name + " at " + std::to_string(c) + " sessions" + runText);
                callRuns[{call->name, c}].push_back(
                    measureCalls(generator, program.port(), *call, c, limits, usage, databaseCpu));
            }
        const Call receipts{f.receiptsName, "/api/v1/methods/LisaaVarastoontulorivit",
                            receiptList("GB" + std::to_string(run) + "-", kReceiptRows), "{\"result\":\"\"}"};
        progress(receipts.name + " at " + std::to_string(o.receiptSessions) + " sessions" + runText);
        callRuns[{receipts.name, o.receiptSessions}].push_back(
            measureCalls(generator, program.port(), receipts, o.receiptSessions, limits, usage, databaseCpu));
    }
    for (auto& [key, runs] : yardRuns)
        f.yardsticks[key] = medianOf(runs);
    for (auto& [key, runs] : callRuns)
        f.calls[key] = medianOf(runs);
    return f;
}

void printOdbcFigures(const OdbcFigures& f)
{
    std::printf("\n## The statements in process through the same ODBC driver\n\n");
    std::printf(
        "| Work | Threads | Statements | Per second | Runs' range | Own CPU µs each (user + kernel) | Database server "
        "CPU µs each |\n"
        "|---|---:|---|---:|---:|---:|---:|\n");
    for (const auto& [key, y] : f.yardsticks)
        std::printf("| %s | %u | %s | %s | %s–%s | %s (%s + %s) | %s |\n", y.what.c_str(), y.threads,
                    y.kept ? "kept (prepared once)" : "prepared every time", thousands(y.rate).c_str(),
                    thousands(y.minRate).c_str(), thousands(y.maxRate).c_str(), fixed(y.ownUs.total(), 0).c_str(),
                    fixed(y.ownUs.user, 0).c_str(), fixed(y.ownUs.system, 0).c_str(), fixed(y.databaseUs, 0).c_str());

    printCallTable("Calls on the program over ODBC (one session per kept-alive TLS connection)", f.calls,
                   CallColumns::DatabaseServer);
}

GoalTable odbcGoals(const GoalsOptions& o, const OdbcFigures& f, const SearchCodes& codes)
{
    GoalTable goals;
    const SearchCalls searches = searchCalls(codes);
    double bestEan = 0;
    for (const auto& [key, y] : f.yardsticks)
        if (std::get<0>(key) == "EAN code")
            bestEan = std::max(bestEan, y.rate);
    if (const auto e = f.calls.find({searches.ean.name, 16}); e != f.calls.end()) {
        const CallRow& row = e->second;
        goals.add({"search by EAN code at 16 sessions, against the best of the statements in process", "searches/s",
                   row.rate, bestEan, "in process", 0.25, Comparison::AtLeast, 0,
                   errorsFault(row.errors, row.firstError)});
        goals.add({"search by EAN code at 16 sessions: server CPU per call", "µs", row.usPerOp, std::nullopt, "", 100,
                   Comparison::AtMost, 0, errorsFault(row.errors, row.firstError)});
    } else {
        goals.addUnmeasured("search by EAN code at 16 sessions", "--concurrency lacks 16");
    }
    const auto yardstick = f.yardsticks.find({"receipt rows", o.receiptSessions, true});
    const auto receipts = f.calls.find({f.receiptsName, o.receiptSessions});
    if (receipts != f.calls.end() && yardstick != f.yardsticks.end())
        goals.add({"receipt rows at " + std::to_string(o.receiptSessions) + " sessions, against the rate in process",
                   "rows/s", receipts->second.rate * kReceiptRows, yardstick->second.rate, "in process", 0.8,
                   Comparison::AtLeast, 0, errorsFault(receipts->second.errors, receipts->second.firstError)});
    return goals;
}

}  // namespace

int runOdbcGoals(const GoalsOptions& o)
{
    const GoalsRun run(o, "krp-goals-odbc-");
    const pid_t databasePid = mariaDbPid(o.mariaDbDir);
    const auto databaseCpu = [databasePid] { return cpuTimesOf(databasePid).total(); };

    progress("filling MariaDB with 100,000 products");
    double buildSeconds = 0;
    const SearchCodes codes = timed(buildSeconds, [&] { return fillOdbcSearchDatabase(o.odbc); });

    const OdbcFigures figures = measureInterleaved(o, run.dir.path(), codes, databaseCpu);

    printMachine(run.machine);
    std::printf(
        "- server: %s, headless, on MariaDB over ODBC (%s); every phase %u times, interleaved with the "
        "in-process runs, %s s counted after %s s warm-up; the tables show the run with the median rate\n",
        o.program.c_str(), o.odbc.c_str(), o.repeat, fixed(o.duration.count() / 1000.0, 1).c_str(),
        fixed(o.warmup.count() / 1000.0, 1).c_str());
    std::printf(
        "- database: 100,000 products with a stock row each, 30,000 open purchase-order lines, the schema's "
        "indexes, filled in %s s; EAN code %s, type code %s (phase 3 finds %d products); database server CPU "
        "from /proc of pid %d\n",
        fixed(buildSeconds, 1).c_str(), codes.ean.c_str(), codes.typeCode.c_str(), codes.typeCodeRows,
        static_cast<int>(databasePid));
    printOdbcFigures(figures);
    const GoalTable goals = odbcGoals(o, figures, codes);
    goals.print("Goals on ODBC");
    return goals.exitStatus();
}

}  // namespace krp::bench
