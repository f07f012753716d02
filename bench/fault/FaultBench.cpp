// krp-fault-bench: the service under database faults, measured from the clients' side. Starts
// the real krpalvelin (headless) on a MariaDB server of the caller's, then
//   1. terminals write stock-count rows while every server connection of the database is
//      killed again and again (KILL CONNECTION), and a terminal pings throughout;
//   2. terminals search while the MariaDB server is frozen (SIGSTOP), then thawed.
// Prints what the terminals were told against what the database holds, the longest Ping
// during each fault and the time to recover, as Markdown.
//
//   krp-fault-bench --program build/src/host/krpalvelin --mariadb-dir /tmp/krp-mariadb \
//                   [--odbc CONNECTION-STRING] [--port 15820] [--clients 8] [--kill-seconds 20]
//                   [--freeze-seconds 8] [--statement-limit 3]
// The connection string defaults to KRP_TEST_ODBC (what scripts/start-mariadb prints).
//
//   krp-fault-bench matrix ...   keyed writes under server and database faults (FaultMatrix.cpp)
//   krp-fault-bench keycost ...  keyed and unkeyed writes side by side
#include "support/BenchSetup.h"
#include "FaultMatrix.h"
#include "FaultServer.h"
#include "client/KrpClient.h"
#include "db/Database.h"
#include "db/Query.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace krp;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string program;
    std::string mariaDbDir;
    std::string odbc;
    int port = 15820;
    int clients = 8;
    int killSeconds = 20;
    int freezeSeconds = 8;
    int statementLimit = 3;
};

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

client::ConnectProperties account()
{
    return {"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"};
}

client::KrpClientOptions clientOptions(const Options& o, const std::filesystem::path& dir)
{
    client::KrpClientOptions c;
    c.transport.port = static_cast<std::uint16_t>(o.port);
    c.transport.caFile = (dir / "test.pem").string();
    c.transport.verifyPeer = true;
    return c;
}

// Pings in its own session until stopped; keeps the longest answer time.
class Pinger {
public:
    explicit Pinger(client::KrpClientOptions options)
        : thread_([this, options] {
              std::unique_ptr<client::KrpClient> c;
              for (int i = 0; i < 100000 && running_; ++i) {
                  const auto start = Clock::now();
                  try {
                      if (!c) {
                          c = std::make_unique<client::KrpClient>(options);
                          c->openSession(account());
                      }
                      c->call("Ping", R"(["Kairanet", "penkki"])");
                  } catch (const client::KrpError&) {
                      c.reset();
                  }
                  const double took = secondsSince(start);
                  longest_ = std::max(longest_.load(), took);
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
          })
    {
    }
    double stop()
    {
        running_ = false;
        thread_.join();
        return longest_;
    }

private:
    std::atomic<bool> running_{true};
    std::atomic<double> longest_{0};
    std::thread thread_;
};

bench::FaultSetup setupOf(const Options& o)
{
    bench::FaultSetup s;
    s.program = o.program;
    s.mariaDbDir = o.mariaDbDir;
    s.odbc = o.odbc;
    return s;
}

void killedConnections(const Options& o, const client::KrpClientOptions& co, const std::string& run)
{
    std::atomic<bool> writing{true};
    std::atomic<int> kills{0};
    db::Database admin;
    admin.open(bench::odbcSettings(setupOf(o)));
    std::thread killer([&] {
        for (int round = 0; round < 100000 && writing; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + (round * 37) % 150));
            kills += bench::killDatabaseConnections(setupOf(o));
        }
    });
    Pinger pinger(co);
    std::mutex mutex;
    std::set<std::string> done, unknown, failed;
    int duplicateAnswers = 0;
    std::vector<std::thread> terminals;
    const auto end = Clock::now() + std::chrono::seconds(o.killSeconds);
    for (int t = 0; t < o.clients; ++t) {
        terminals.emplace_back([&, t] {
            std::unique_ptr<client::KrpClient> c;
            for (int i = 0; i < 1000000 && Clock::now() < end; ++i) {
                const std::string id = run + "-" + std::to_string(t) + "-" + std::to_string(i);
                try {
                    if (!c) {
                        c = std::make_unique<client::KrpClient>(co);
                        c->openSession(account());
                    }
                    const auto a = c->call("LisaaInventointirivi",
                                           R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":")" + id +
                                               R"(","toimittajanro":101,"tuotekoodi":"JP-1001","vanha_varastosaldo":1,)"
                                               R"("uusi_varastosaldo":2,"keruupaateid":"PENKKI"}}])");
                    const std::string text = a.result().GetString();
                    std::lock_guard lock(mutex);
                    if (text.empty())
                        done.insert(id);
                    else if (text.find("tulos epävarma") != std::string::npos)
                        unknown.insert(id);
                    else
                        failed.insert(id);
                    if (text.find("Duplicate") != std::string::npos)
                        ++duplicateAnswers;
                } catch (const client::KrpError&) {
                    c.reset();
                    std::lock_guard lock(mutex);
                    failed.insert(id);
                }
            }
        });
    }
    for (auto& t : terminals)
        t.join();
    writing = false;
    killer.join();
    const double longestPing = pinger.stop();

    std::map<std::string, long long> present;
    db::Query q(admin);
    q.setSql({"SELECT KEI_ID, COUNT(*) FROM KERUUINVENTOINTI WHERE KEI_ID LIKE :run GROUP BY KEI_ID"});
    q.param("run").setText(QString::fromStdString(run + "-%"));
    for (q.open(); !q.eof(); q.next())
        present[q.field(0).asText().toStdString()] = q.field(1).asInteger();
    auto countIn = [&](const std::set<std::string>& ids) {
        int n = 0;
        for (const auto& id : ids)
            n += present.count(id) ? 1 : 0;
        return n;
    };
    int doubled = duplicateAnswers;
    for (const auto& [id, n] : present)
        doubled += n > 1 ? 1 : 0;
    // Recovery: the first write after the kills that is answered as done.
    const auto after = Clock::now();
    double recovered = -1;
    try {
        client::KrpClient c(co);
        c.openSession(account());
        for (int i = 0; i < 100 && recovered < 0; ++i) {
            const std::string id = run + "-jalkeen-" + std::to_string(i);
            if (std::string(c.call("LisaaInventointirivi",
                                   R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":")" + id +
                                       R"(","toimittajanro":101,"tuotekoodi":"JP-1001","keruupaateid":"PENKKI"}}])")
                                .result()
                                .GetString())
                    .empty())
                recovered = secondsSince(after);
        }
    } catch (const client::KrpError&) {
    }
    db::Query cleanup(admin);
    cleanup.setSql({"DELETE FROM KERUUINVENTOINTI WHERE KEI_ID LIKE :run"});
    cleanup.param("run").setText(QString::fromStdString(run + "-%"));
    cleanup.execute();

    std::printf("\n### Connections killed while %d terminals write (%d s, %d kills)\n\n", o.clients, o.killSeconds,
                kills.load());
    std::printf(
        "| writes | answered done | of them present | answered unknown (tulos epävarma) | of them present "
        "| answered failed | of them present | doubled |\n|---|---|---|---|---|---|---|---|\n");
    std::printf("| %zu | %zu | %d | %zu | %d | %zu | %d | %d |\n", done.size() + unknown.size() + failed.size(),
                done.size(), countIn(done), unknown.size(), countIn(unknown), failed.size(), countIn(failed), doubled);
    std::printf("\nLongest Ping during the kills: %.3f s. First write answered done after the kills: %.3f s.\n",
                longestPing, recovered);
}

void frozenServer(const Options& o, const client::KrpClientOptions& co)
{
    const pid_t pid = bench::mariaDbPid(setupOf(o));
    if (pid <= 0) {
        std::fprintf(stderr, "krp-fault-bench: no pid in %s/mariadb.pid\n", o.mariaDbDir.c_str());
        std::exit(1);
    }
    Pinger pinger(co);
    std::atomic<bool> frozen{false};
    std::atomic<double> longestCall{0};
    std::atomic<int> failedCalls{0};
    std::atomic<bool> searching{true};
    std::vector<std::thread> terminals;
    for (int t = 0; t < o.clients; ++t) {
        terminals.emplace_back([&] {
            std::unique_ptr<client::KrpClient> c;
            for (int i = 0; i < 1000000 && searching; ++i) {
                const auto start = Clock::now();
                bool ok = false;
                try {
                    if (!c) {
                        c = std::make_unique<client::KrpClient>(co);
                        c->openSession(account());
                    }
                    ok = c->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])").text == R"({"result":""})";
                } catch (const client::KrpError&) {
                    c.reset();
                }
                if (frozen) {
                    longestCall = std::max(longestCall.load(), secondsSince(start));
                    failedCalls += ok ? 0 : 1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::kill(pid, SIGSTOP);
    frozen = true;
    std::this_thread::sleep_for(std::chrono::seconds(o.freezeSeconds));
    ::kill(pid, SIGCONT);
    frozen = false;
    const auto thawed = Clock::now();
    double recovered = -1;
    {
        client::KrpClient c(co);
        for (int i = 0; i < 400 && recovered < 0; ++i) {
            try {
                if (!c.hasSession())
                    c.openSession(account());
                if (c.call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])").text == R"({"result":""})")
                    recovered = secondsSince(thawed);
            } catch (const client::KrpError&) {
            }
            if (recovered < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    searching = false;
    for (auto& t : terminals)
        t.join();
    const double longestPing = pinger.stop();
    std::printf("\n### MariaDB frozen (SIGSTOP) for %d s while %d terminals search; statement limit %d s\n\n",
                o.freezeSeconds, o.clients, o.statementLimit);
    std::printf(
        "| longest search while frozen | searches failed while frozen | longest Ping | first search "
        "answered after SIGCONT |\n|---|---|---|---|\n");
    std::printf("| %.3f s | %d | %.3f s | %.3f s |\n", longestCall.load(), failedCalls.load(), longestPing, recovered);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc >= 2 && (std::string(argv[1]) == "matrix" || std::string(argv[1]) == "keycost")) {
        const std::vector<std::string> args(argv + 2, argv + argc);
        return std::string(argv[1]) == "matrix" ? bench::runFaultMatrix(args) : bench::runKeyCost(args);
    }
    Options o;
    if (const char* odbc = std::getenv("KRP_TEST_ODBC"))
        o.odbc = odbc;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--program")
            o.program = value;
        else if (name == "--mariadb-dir")
            o.mariaDbDir = value;
        else if (name == "--odbc")
            o.odbc = value;
        else if (name == "--port")
            o.port = std::stoi(value);
        else if (name == "--clients")
            o.clients = std::max(1, std::stoi(value));
        else if (name == "--kill-seconds")
            o.killSeconds = std::max(1, std::stoi(value));
        else if (name == "--freeze-seconds")
            o.freezeSeconds = std::max(1, std::stoi(value));
        else if (name == "--statement-limit")
            o.statementLimit = std::max(1, std::stoi(value));
        else {
            std::fprintf(stderr, "krp-fault-bench: unknown option %s (see the comment at the top of FaultBench.cpp)\n",
                         name.c_str());
            return 2;
        }
    }
    if (o.program.empty() || o.mariaDbDir.empty() || o.odbc.empty()) {
        std::fprintf(stderr,
                     "usage: krp-fault-bench --program KRPALVELIN --mariadb-dir DIR [--odbc CS] [--port N] "
                     "[--clients N] [--kill-seconds S] [--freeze-seconds S] [--statement-limit S]\n");
        return 2;
    }

    bench::FaultSetup setup = setupOf(o);
    setup.port = o.port;
    setup.statementLimit = o.statementLimit;
    const std::unique_ptr<bench::FaultServer> server = bench::servingServer(setup);
    if (!server)
        return 1;
    const client::KrpClientOptions co = clientOptions(o, server->directory());
    const std::string run =
        "FB" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count() % 100000000);
    killedConnections(o, co, run);
    frozenServer(o, co);
    server->stop(SIGTERM);
    return 0;
}
