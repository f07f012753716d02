// krp-fault-bench matrix: terminals write receipt rows (LisaaVarastoontulorivit), picking rows
// (LisaaKerailyrivit), stock counts (LisaaInventointirivi) and work lines
// (LisaaTyovaiheTyomaaraykselle), every call with its own key, repeating as the protocol says
// (same key; after a 401 a new session and the same key), while each fault of the matrix is
// applied `--rounds` times: the server SIGKILLed or stopped with SIGTERM (and started again at
// once), the database's connections killed, mariadbd restarted, mariadbd frozen past the
// statement limit, and a server kill during each database fault. After each fault's run the
// rows are counted: every acknowledged write must be there once, nothing twice.
//
//   krp-fault-bench matrix --program build-test/src/host/krpalvelin --mariadb-dir /tmp/krp-mariadb
//                          [--odbc CS] [--port 15823] [--terminals 2] [--rounds 4] [--between 3]
//                          [--statement-limit 2] [--short] [--unknowns]
// --short: one round of each fault, 2 s between (the CI form); --skip-without-mariadb: exit 77
// when no MariaDB server is given. --unknowns lists every call
// answered "unknown" with whether its row exists. Exits 1 when an acknowledged write is
// missing, a write is there twice, or there are more server-side unknowns than calls in flight.
#include "FaultMatrix.h"

#include "FaultServer.h"
#include "db/Database.h"
#include "db/Query.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace krp::bench {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

enum class Kind { Receipt, Picking, StockCount, WorkLine };
constexpr Kind kKinds[] = {Kind::Receipt, Kind::Picking, Kind::StockCount, Kind::WorkLine};

const char* methodOf(Kind k)
{
    switch (k) {
    case Kind::Receipt: return "LisaaVarastoontulorivit";
    case Kind::Picking: return "LisaaKerailyrivit";
    case Kind::StockCount: return "LisaaInventointirivi";
    case Kind::WorkLine: return "LisaaTyovaiheTyomaaraykselle";
    }
    return "";
}

// The work order the work lines go to (open in the demo data).
constexpr int kTyomaarays = 10008;

std::string bodyOf(Kind k, const std::string& id)
{
    switch (k) {
    case Kind::Receipt:
        return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
               R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[)"
               R"({"type":"UTyypit.TVarastoontulorivi","id":2,"fields":{"id":")" +
               id +
               R"(","ostotilausnro":5001,)"
               R"("tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001","saapuvamaara":2,"kerattymaara":2,)"
               R"("keruupaateid":"matriisi"}}]}}])";
    case Kind::Picking:
        return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{)"
               R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[)"
               R"({"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":")" +
               id +
               R"(","toimittajanro":103,)"
               R"("tuotekoodi":"5W30-5L","maara":1,"keruupaateid":"matriisi","asiakasnro":1002}}]}}])";
    case Kind::StockCount:
        return R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":")" + id +
               R"(","toimittajanro":101,"tuotekoodi":"JP-1001","vanha_varastosaldo":1,"uusi_varastosaldo":2,)"
               R"("keruupaateid":"matriisi"}}])";
    case Kind::WorkLine:
        return "[" + std::to_string(kTyomaarays) +
               R"(, {"type":"UTyypit.TTyorivi","id":1,"fields":{"suorittaja":"PEKKA","asiakasnro":0,)"
               R"("tyokoodi":"KORI","tehtava":"Matriisi","lisateksti":")" +
               id +
               R"(","laskutettuaika":0.1,"suoritettuaika":0.1,"tuntiveloitus":80,"kpl":1,"verokanta":24,)"
               R"("rivityyppi":"T"}}])";
    }
    return {};
}

// Rows per id of one run ("run-%").
std::map<std::string, int> rowsOf(db::Database& erp, Kind k, const std::string& run)
{
    static const char* const sql[] = {
        "SELECT KEO_ID, COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID LIKE :run GROUP BY KEO_ID",
        "SELECT KTU_ID, COUNT(*) FROM KERUUTUOTTEET WHERE KTU_ID LIKE :run GROUP BY KTU_ID",
        "SELECT KEI_ID, COUNT(*) FROM KERUUINVENTOINTI WHERE KEI_ID LIKE :run GROUP BY KEI_ID",
        "SELECT MTR_LISATEKSTI, COUNT(*) FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_LISATEKSTI LIKE :run "
        "GROUP BY MTR_LISATEKSTI",
    };
    std::map<std::string, int> rows;
    db::Query q(erp);
    q.setSql({sql[static_cast<int>(k)]});
    q.param("run").setText(QString::fromStdString(run + "-%"));
    for (q.open(); !q.eof(); q.next())
        rows[q.field(0).asText().toStdString()] = static_cast<int>(q.field(1).asInteger());
    return rows;
}

enum class Answer {
    Acknowledged,     // the method said done
    UnknownServer,    // 409 Idempotent-Outcome: unknown (the server stopped while it ran)
    UnknownDatabase,  // the method's answer says "tulos epävarma" (the link broke after the write)
    Failed,           // the method or the server said it failed
    NoAnswer,         // the terminal gave up repeating
};

struct Call {
    std::string id;
    Kind kind;
    Answer answer;
    std::string text;
};

struct Fault {
    const char* name;
    std::function<void(FaultServer&, int statementLimit)> apply;
    bool stopsServer;
};

void keepKilling(const FaultSetup& s, std::chrono::milliseconds during)
{
    const auto end = Clock::now() + during;
    while (Clock::now() < end) {
        killDatabaseConnections(s);
        std::this_thread::sleep_for(milliseconds(100));
    }
}

void restartServer(FaultServer& server, int signal)
{
    server.stop(signal);
    server.start();
}

std::vector<Fault> faults()
{
    return {
        {"server SIGKILL", [](FaultServer& s, int) { restartServer(s, SIGKILL); }, true},
        {"server SIGTERM", [](FaultServer& s, int) { restartServer(s, SIGTERM); }, true},
        {"database connections killed", [](FaultServer& s, int) { keepKilling(s.setup(), seconds(2)); }, false},
        {"mariadbd restarted",
         [](FaultServer& s, int) {
             stopMariaDb(s.setup());
             startMariaDb(s.setup());
         },
         false},
        {"mariadbd frozen past the statement limit",
         [](FaultServer& s, int limit) {
             const pid_t pid = mariaDbPid(s.setup());
             ::kill(pid, SIGSTOP);
             std::this_thread::sleep_for(seconds(limit + 2));
             ::kill(pid, SIGCONT);
         },
         false},
        {"server SIGKILL while connections are killed",
         [](FaultServer& s, int) {
             std::thread killer([&] { keepKilling(s.setup(), seconds(2)); });
             std::this_thread::sleep_for(milliseconds(700));
             restartServer(s, SIGKILL);
             killer.join();
         },
         true},
        {"server SIGKILL while mariadbd restarts",
         [](FaultServer& s, int) {
             std::thread stopper([&] { stopMariaDb(s.setup()); });
             std::this_thread::sleep_for(milliseconds(300));
             restartServer(s, SIGKILL);
             stopper.join();
             startMariaDb(s.setup());
         },
         true},
        {"server SIGKILL while mariadbd is frozen",
         [](FaultServer& s, int limit) {
             const pid_t pid = mariaDbPid(s.setup());
             ::kill(pid, SIGSTOP);
             std::this_thread::sleep_for(milliseconds(1000));
             restartServer(s, SIGKILL);
             std::this_thread::sleep_for(seconds(limit + 1));
             ::kill(pid, SIGCONT);
         },
         true},
    };
}

constexpr int kAnswers = 5;  // the values of Answer

struct Row {
    std::string fault;
    int stops = 0, calls = 0, lost = 0, doubled = 0, replayed = 0;
    // By Answer: how many calls got it, and how many of those have their row.
    int answered[kAnswers] = {};
    int present[kAnswers] = {};
    bool kept() const { return lost == 0 && doubled == 0; }
    int count(Answer a) const { return answered[static_cast<int>(a)]; }

    Row& operator+=(const Row& r)
    {
        stops += r.stops;
        calls += r.calls;
        lost += r.lost;
        doubled += r.doubled;
        replayed += r.replayed;
        for (int i = 0; i < kAnswers; ++i) {
            answered[i] += r.answered[i];
            present[i] += r.present[i];
        }
        return *this;
    }

    void print() const
    {
        std::printf("| %s | %d | %d | %d | %d | %d | %d", fault.c_str(), stops, calls, answered[0], present[0], lost,
                    doubled);
        for (int i = 1; i < kAnswers; ++i)
            std::printf(" | %d | %d", answered[i], present[i]);
        std::printf(" | %d |\n", replayed);
    }
};

bool acknowledged(Kind k, const client::MethodAnswer& a)
{
    const rapidjson::Value& r = a.result();
    if (k == Kind::WorkLine)
        return r.IsInt() && r.GetInt() > 0;
    return r.IsString() && r.GetStringLength() == 0;
}

Row runFault(FaultServer& server, const Fault& fault, const std::string& run, int terminalsPerKind, int rounds,
             int between, bool listUnknowns)
{
    std::atomic<bool> writing{true};
    std::mutex mutex;
    std::vector<Call> calls;
    std::atomic<int> replayed{0};
    std::vector<std::thread> terminals;
    for (Kind kind : kKinds) {
        for (int t = 0; t < terminalsPerKind; ++t) {
            terminals.emplace_back([&, kind, t] {
                const client::KrpClientOptions options = server.clientOptions();
                std::unique_ptr<client::KrpClient> c;
                for (int i = 0; writing; ++i) {
                    if (!c || !c->hasSession()) {
                        try {
                            c = std::make_unique<client::KrpClient>(options);
                            c->openSession(faultAccount());
                        } catch (const client::KrpError&) {
                            c.reset();
                            std::this_thread::sleep_for(milliseconds(100));
                            --i;
                            continue;
                        }
                    }
                    Call call{run + "-" + std::to_string(static_cast<int>(kind)) + std::to_string(t) + "-" +
                                  std::to_string(i),
                              kind,
                              Answer::Failed,
                              {}};
                    try {
                        const auto a = c->call(methodOf(kind), bodyOf(kind, call.id), call.id);
                        replayed += c->lastResponse().replayed ? 1 : 0;
                        call.text = a.text;
                        if (acknowledged(kind, a))
                            call.answer = Answer::Acknowledged;
                        else if (a.text.find("tulos epävarma") != std::string::npos)
                            call.answer = Answer::UnknownDatabase;
                    } catch (const client::KrpError& e) {
                        call.text = e.what();
                        call.answer = e.outcomeUnknown() ? Answer::UnknownServer
                                      : e.status() == 0  ? Answer::NoAnswer
                                                         : Answer::Failed;
                        if (!e.outcomeUnknown())
                            c.reset();
                    }
                    std::lock_guard lock(mutex);
                    calls.push_back(std::move(call));
                }
            });
        }
    }
    Row row;
    row.fault = fault.name;
    for (int round = 0; round < rounds; ++round) {
        std::this_thread::sleep_for(seconds(between));
        fault.apply(server, server.setup().statementLimit);
        row.stops += fault.stopsServer ? 1 : 0;
    }
    std::this_thread::sleep_for(seconds(between));
    writing = false;
    for (auto& t : terminals)
        t.join();

    // Every terminal's last call was answered: what the database holds now is final.
    db::Database erp;
    erp.open(odbcSettings(server.setup()));
    std::map<std::string, int> rows;
    for (Kind k : kKinds)
        for (const auto& [id, n] : rowsOf(erp, k, run))
            rows[id] = n;
    for (const Call& c : calls) {
        const int n = rows.count(c.id) ? rows[c.id] : 0;
        ++row.calls;
        row.doubled += n > 1 ? 1 : 0;
        const bool duplicateAnswer =
            c.text.find("Duplicate") != std::string::npos || c.text.find("UNIQUE") != std::string::npos;
        row.doubled += duplicateAnswer ? 1 : 0;
        const int a = static_cast<int>(c.answer);
        ++row.answered[a];
        // An acknowledged write counts as present only once; one that is not there is lost.
        row.present[a] += (c.answer == Answer::Acknowledged ? n == 1 : n > 0) ? 1 : 0;
        row.lost += c.answer == Answer::Acknowledged && n == 0 ? 1 : 0;
        if (listUnknowns && (c.answer == Answer::UnknownServer || c.answer == Answer::NoAnswer ||
                             c.answer == Answer::UnknownDatabase || (c.answer == Answer::Failed && n > 0)))
            std::printf("  %-44s %s %s: %s\n", fault.name, c.id.c_str(), n > 0 ? "present" : "absent",
                        c.text.substr(0, 160).c_str());
    }
    row.replayed = replayed;
    return row;
}

struct MatrixOptions {
    FaultSetup setup;
    int terminalsPerKind = 2;
    int rounds = 4;
    int between = 3;
    bool listUnknowns = false;
    bool skipWithoutMariaDb = false;  // exit 77 (a skipped test) when no MariaDB server is given
};

bool parse(const std::vector<std::string>& args, MatrixOptions& o, int& keySeconds)
{
    if (const char* odbc = std::getenv("KRP_TEST_ODBC"))
        o.setup.odbc = odbc;
    if (const char* dir = std::getenv("KRP_TEST_MARIADB_DIR"))
        o.setup.mariaDbDir = dir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--short") {
            o.rounds = 1;
            o.between = 2;
            continue;
        }
        if (name == "--unknowns") {
            o.listUnknowns = true;
            continue;
        }
        if (name == "--skip-without-mariadb") {
            o.skipWithoutMariaDb = true;
            continue;
        }
        if (i + 1 >= args.size())
            return false;
        const std::string& value = args[++i];
        if (name == "--program")
            o.setup.program = value;
        else if (name == "--mariadb-dir")
            o.setup.mariaDbDir = value;
        else if (name == "--odbc")
            o.setup.odbc = value;
        else if (name == "--port")
            o.setup.port = std::stoi(value);
        else if (name == "--terminals")
            o.terminalsPerKind = std::max(1, std::stoi(value));
        else if (name == "--rounds")
            o.rounds = std::max(1, std::stoi(value));
        else if (name == "--between")
            o.between = std::max(1, std::stoi(value));
        else if (name == "--statement-limit")
            o.setup.statementLimit = std::max(1, std::stoi(value));
        else if (name == "--seconds")
            keySeconds = std::max(1, std::stoi(value));
        else
            return false;
    }
    return !o.setup.program.empty() && !o.setup.mariaDbDir.empty() && !o.setup.odbc.empty();
}

std::string runName()
{
    return "FM" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count() / 1000000 % 100000000);
}

}  // namespace

int runFaultMatrix(const std::vector<std::string>& args)
{
    MatrixOptions o;
    int unused = 0;
    const bool parsed = parse(args, o, unused);
    if (o.skipWithoutMariaDb && (o.setup.odbc.empty() || o.setup.mariaDbDir.empty())) {
        std::printf("krp-fault-bench matrix: skipped, KRP_TEST_ODBC and KRP_TEST_MARIADB_DIR are not set\n");
        return 77;
    }
    if (!parsed) {
        std::fprintf(stderr,
                     "usage: krp-fault-bench matrix --program KRPALVELIN --mariadb-dir DIR [--odbc CS] "
                     "[--port N] [--terminals N] [--rounds N] [--between S] [--statement-limit S] [--short] "
                     "[--unknowns]\n(KRP_TEST_ODBC and KRP_TEST_MARIADB_DIR give the defaults)\n");
        return 2;
    }
    const std::unique_ptr<FaultServer> serving = servingServer(o.setup);
    if (!serving)
        return 1;
    FaultServer& server = *serving;
    const std::string run = runName();
    std::vector<Row> rows;
    const auto started = Clock::now();
    int index = 0;
    for (const Fault& fault : faults()) {
        rows.push_back(runFault(server, fault, run + std::to_string(index++), o.terminalsPerKind, o.rounds, o.between,
                                o.listUnknowns));
        std::fflush(stdout);
    }
    const double took = std::chrono::duration<double>(Clock::now() - started).count();
    const int terminals = 4 * o.terminalsPerKind;
    std::printf(
        "\n### Fault matrix: %d terminals (receipt rows, picking rows, stock counts, work lines), %d round(s) "
        "per fault, %d s between, statement limit %d s; %.0f s\n\n",
        terminals, o.rounds, o.between, o.setup.statementLimit, took);
    std::printf(
        "| fault | server stops | calls | acknowledged | of them present once | lost | doubled | unknown "
        "(server stopped) | of them present | unknown (database link) | of them present | failed | of them "
        "present | no answer | of them present | replayed |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool kept = true;
    Row total;
    total.fault = "**all**";
    for (const Row& r : rows) {
        r.print();
        // At most the calls in flight at each stop: one per terminal.
        kept = kept && r.kept() && r.count(Answer::UnknownServer) <= r.stops * terminals;
        total += r;
    }
    total.print();
    std::printf("\n%s\n", kept ? "Kept: every acknowledged write is there once, none twice, and the unknowns are at "
                                 "most the calls in flight at each stop."
                               : "BROKEN: see the lost, doubled and unknown columns.");
    server.stop(SIGTERM);
    return kept ? 0 : 1;
}

}  // namespace krp::bench

namespace krp::bench {

// krp-fault-bench keycost: 4 terminals write receipt rows, then work lines, for --seconds each,
// once without Idempotency-Key and once with a fresh key per call, alternating, on one server.
//
//   krp-fault-bench keycost --program build-test/src/host/krpalvelin --mariadb-dir DIR [--seconds 10]
int runKeyCost(const std::vector<std::string>& args)
{
    MatrixOptions o;
    int phaseSeconds = 10;
    if (!parse(args, o, phaseSeconds)) {
        std::fprintf(stderr,
                     "usage: krp-fault-bench keycost --program KRPALVELIN --mariadb-dir DIR [--odbc CS] "
                     "[--port N] [--seconds S]\n");
        return 2;
    }
    const std::unique_ptr<FaultServer> serving = servingServer(o.setup);
    if (!serving)
        return 1;
    FaultServer& server = *serving;
    const std::string run = runName();
    constexpr int kTerminals = 4;
    // Calls per second of one phase.
    auto phase = [&](Kind kind, bool keyed, int number) {
        std::atomic<long> done{0};
        std::atomic<long> failed{0};
        const auto end = Clock::now() + seconds(phaseSeconds);
        std::vector<std::thread> terminals;
        for (int t = 0; t < kTerminals; ++t) {
            terminals.emplace_back([&, t] {
                client::KrpClientOptions options = server.clientOptions();
                options.callRepeats = 0;
                client::KrpClient c(options);
                c.openSession(faultAccount());
                const std::string target = std::string("/api/v1/methods/") + methodOf(kind);
                for (long i = 0; Clock::now() < end; ++i) {
                    const std::string id =
                        run + "-" + std::to_string(number) + std::to_string(t) + "-" + std::to_string(i);
                    try {
                        if (keyed) {
                            done += acknowledged(kind, c.call(methodOf(kind), bodyOf(kind, id), id)) ? 1 : 0;
                        } else {
                            const auto r = c.transport().request("POST", target, bodyOf(kind, id),
                                                                 {{"Authorization", "Bearer " + c.sessionId()}});
                            done += r.status == 200 ? 1 : 0;
                        }
                    } catch (const std::exception&) {
                        ++failed;
                    }
                }
            });
        }
        for (auto& t : terminals)
            t.join();
        return std::make_pair(static_cast<double>(done) / phaseSeconds, failed.load());
    };
    std::printf("\n### Keyed and unkeyed writes, %d terminals, %d s per phase\n\n", kTerminals, phaseSeconds);
    std::printf("| method | without key, calls/s | with key, calls/s | change |\n|---|---|---|---|\n");
    int number = 0;
    for (Kind kind : {Kind::Receipt, Kind::WorkLine}) {
        // Twice each way, alternating, so that a slow moment of the machine falls on both.
        double plain = 0, keyed = 0;
        for (int i = 0; i < 2; ++i) {
            plain += phase(kind, false, number++).first / 2;
            keyed += phase(kind, true, number++).first / 2;
        }
        std::printf("| %s | %.0f | %.0f | %+.1f %% |\n", methodOf(kind), plain, keyed,
                    plain > 0 ? (keyed - plain) / plain * 100 : 0.0);
        std::fflush(stdout);
    }
    server.stop(SIGTERM);
    // The rows of this run go again.
    db::Database erp;
    erp.open(odbcSettings(o.setup));
    for (const char* sql : {"DELETE FROM KERUUOSTOTILAUS WHERE KEO_ID LIKE :run",
                            "DELETE FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_LISATEKSTI LIKE :run"}) {
        db::Query q(erp);
        q.setSql({sql});
        q.param("run").setText(QString::fromStdString(run + "-%"));
        q.execute();
    }
    return 0;
}

}  // namespace krp::bench
