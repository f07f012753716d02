// The real endpoint on the test MariaDB server while the server misbehaves for real: its
// connections killed again and again while terminals write, the server stopped, the server
// frozen. Whatever a client was told is done is in the database exactly once.
#include "EndpointFixture.h"

#include "support/MariaDbServer.h"
#include "support/TestDatabases.h"
#include "credentials/Palvelintunnukset.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <fstream>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace krp::test {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The demo database on MariaDB, with short limits for the server that uses it.
struct FaultDatabase {
    FaultDatabase()
        : database(mariaDbConfigured() ? std::make_unique<TestDatabase>(Backend::MariaDb, Content::DemoData)
                                       : std::make_unique<TestDatabase>(Backend::Sqlite, Content::DemoData))
    {
        settings = database->settings();
        settings.limits = db::Limits{2, 2, 2};
    }
    std::unique_ptr<TestDatabase> database;
    db::ConnectionSettings settings;
};

class EndpointFaultTest : private FaultDatabase, public EndpointFixture {
protected:
    EndpointFaultTest() : EndpointFixture(FaultDatabase::settings) {}

    void SetUp() override
    {
        if (!mariaDbServerControllable())
            GTEST_SKIP() << mariaDbServerSkipMessage();
    }

    TestDatabase& demo() { return *FaultDatabase::database; }

    static client::ConnectProperties varasto() { return {"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"}; }

    std::unique_ptr<client::KrpClient> openVarasto()
    {
        auto c = std::make_unique<client::KrpClient>(clientOptions());
        c->openSession(varasto());
        return c;
    }

    // Kills every server connection of the test's database, again and again, until stopped.
    class Killer {
    public:
        explicit Killer(TestDatabase& demo)
        {
            const QString name = demo.text(QStringLiteral("SELECT DATABASE() FROM DUAL"));
            admin_.open(demo.settings());
            thread_ = std::thread([this, name] {
                for (int round = 0; round < 5000 && running_; ++round) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50 + (round * 37) % 150));
                    try {
                        db::Query q(admin_);
                        q.setSql(
                            {"SELECT ID FROM information_schema.PROCESSLIST", "WHERE DB=:db AND ID<>CONNECTION_ID()"});
                        q.param("db").setText(name);
                        q.open();
                        for (; !q.eof(); q.next()) {
                            db::Query kill(admin_);
                            kill.addLine(QStringLiteral("KILL CONNECTION %1").arg(q.field(0).asInteger()));
                            try {
                                kill.execute();
                                ++kills;
                            } catch (const db::Error&) {
                                // gone already
                            }
                        }
                    } catch (const db::Error&) {
                    }
                }
            });
        }
        ~Killer() { stop(); }
        void stop()
        {
            running_ = false;
            if (thread_.joinable())
                thread_.join();
        }
        std::atomic<int> kills{0};

    private:
        db::Database admin_;
        std::atomic<bool> running_{true};
        std::thread thread_;
    };
};

const std::string kTyorivi =
    R"({"type":"UTyypit.TTyorivi","id":1,"fields":{"suorittaja":"PEKKA","asiakasnro":0,)"
    R"("tyokoodi":"KORI","ajoneuvokoodi":"SCANIA","tyoluokka":"B","tehtava":"Vaihto",)"
    R"("laskutettuaika":1,"suoritettuaika":1,"tuntiveloitus":80,"alepros":0,"kpl":1,"ostohinta":30,)"
    R"("verokanta":24,"jro":3000,"viite":"VIITE","rivityyppi":"T"}})";

// Terminals write stock-count rows (their own ids) and work lines (their own references)
// while the database's connections are killed: every write answered as done is there once,
// nothing is doubled, and a write answered as failed is there only when its answer said the
// outcome was unknown.
TEST_F(EndpointFaultTest, KilledConnectionsWhileTerminalsWrite)
{
    constexpr int terminals = 4;
    constexpr int writesEach = 40;
    struct Outcomes {
        std::set<std::string> done, unknown, failed;
        std::vector<std::string> duplicates;
    };
    std::vector<Outcomes> rows(terminals), lines(terminals);
    {
        Killer killer(demo());
        std::vector<std::thread> threads;
        for (int t = 0; t < terminals; ++t) {
            threads.emplace_back([&, t] {
                std::unique_ptr<client::KrpClient> c;
                for (int i = 0; i < writesEach; ++i) {
                    try {
                        if (!c)
                            c = openVarasto();
                        const std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
                        const auto a =
                            c->call("LisaaInventointirivi",
                                    R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":")" + id +
                                        R"(","toimittajanro":101,"tuotekoodi":"JP-1001","vanha_varastosaldo":1,)"
                                        R"("uusi_varastosaldo":2,"keruupaateid":"PDA"}}])");
                        const std::string text = a.result().GetString();
                        (text.empty()                                       ? rows[t].done
                         : text.find("tulos epävarma") != std::string::npos ? rows[t].unknown
                                                                            : rows[t].failed)
                            .insert(id);
                        if (text.find("Duplicate") != std::string::npos)
                            rows[t].duplicates.push_back(text);

                        std::string work = kTyorivi;
                        work.replace(work.find("VIITE"), 5, id);
                        const auto w = c->call("LisaaTyovaiheTyomaaraykselle", "[10008, " + work + "]");
                        (w.result().GetInt() > 0 ? lines[t].done : lines[t].unknown).insert(id);
                    } catch (const client::KrpError&) {
                        c.reset();  // a session that could not open, or a call that failed as a whole
                    }
                }
            });
        }
        for (auto& th : threads)
            th.join();
        killer.stop();
        EXPECT_GT(killer.kills.load(), 0);
    }

    std::map<std::string, std::int64_t> rowCount, lineCount;
    {
        db::Query q(demo().database());
        q.addLine("SELECT KEI_ID, COUNT(*) FROM KERUUINVENTOINTI GROUP BY KEI_ID");
        for (q.open(); !q.eof(); q.next())
            rowCount[q.field(0).asText().toStdString()] = q.field(1).asInteger();
        q.clearSql();
        q.addLine("SELECT MTR_VIITE, COUNT(*) FROM MAARTYO WHERE MTR_NRO=10008 GROUP BY MTR_VIITE");
        for (q.open(); !q.eof(); q.next())
            lineCount[q.field(0).asText().toStdString()] = q.field(1).asInteger();
    }
    int done = 0;
    for (int t = 0; t < terminals; ++t) {
        EXPECT_TRUE(rows[t].duplicates.empty()) << rows[t].duplicates.front();
        for (const auto& id : rows[t].done)
            EXPECT_EQ(rowCount[id], 1) << "stock-count row " << id;
        for (const auto& id : rows[t].failed)
            EXPECT_EQ(rowCount[id], 0) << "stock-count row " << id << " failed, yet it is there";
        for (const auto& id : lines[t].done)
            EXPECT_EQ(lineCount[id], 1) << "work line " << id;
        for (const auto& id : lines[t].unknown)
            EXPECT_LE(lineCount[id], 1) << "work line " << id;
        done += static_cast<int>(rows[t].done.size() + lines[t].done.size());
    }
    EXPECT_GT(done, 0);
    // The work order's total is the sum of its lines: no line without its sum, no sum twice.
    EXPECT_NEAR(demo()
                    .text("SELECT TYO_YHTEENSA - (SELECT SUM(MTR_RIVISUMMA) FROM MAARTYO WHERE MTR_NRO=10008) "
                          "FROM MAARPER WHERE TYO_NRO=10008")
                    .toDouble(),
                0.0, 0.001);
}

// Opening a session while the database is down answers 503 with Retry-After and the
// database's text, not 403; after the database is back, sessions open again.
TEST_F(EndpointFaultTest, SessionOpeningDuringAnOutageAnswers503)
{
    auto sessionRequest = [&] {
        client::KrpClient c(clientOptions());
        const std::string credentials = QByteArray(types::PALVELIMEN_KAYTTAJATUNNUS)
                                            .append(':')
                                            .append(types::PALVELIMEN_SALASANA)
                                            .toBase64()
                                            .toStdString();
        return c.transport().request("POST", "/api/v1/session", client::connectPropertiesJson(varasto()),
                                     {{"Authorization", "Basic " + credentials}});
    };
    {
        StoppedMariaDb stopped;
        const auto r = sessionRequest();
        EXPECT_EQ(r.status, 503) << r.body;
        EXPECT_FALSE(r.header("Retry-After").empty());
        EXPECT_NE(r.body.find("Can't connect"), std::string::npos) << r.body;
        stopped.start();
    }
    EXPECT_EQ(sessionRequest().status, 200);
}

// A call whose database does not answer fails the call (500 with the database's text, no
// Retry-After), whether the method reads or writes; after the outage a fresh call runs and the
// write left nothing behind.
TEST_F(EndpointFaultTest, CallsDuringAnOutage)
{
    auto c = openVarasto();
    const auto call = [&](const std::string& method, const std::string& body, const std::string& key) {
        return c->transport().request("POST", "/api/v1/methods/" + method, body,
                                      {{"Authorization", "Bearer " + c->sessionId()}, {"Idempotency-Key", key}});
    };
    {
        StoppedMariaDb stopped;
        const auto read = call("HaeTyoaikakirjaus", "[1]", "lue-1");
        EXPECT_EQ(read.status, 500) << read.body;
        EXPECT_TRUE(read.header("Retry-After").empty());
        EXPECT_NE(read.body.find("\"error\""), std::string::npos) << read.body;
        const auto write = call("KirjaaTyonAloitus", "[10008]", "kirjaa-1");
        EXPECT_EQ(write.status, 500) << write.body;
        EXPECT_TRUE(write.header("Retry-After").empty());
        stopped.start();
    }
    const auto again = call("HaeTyoaikakirjaus", "[1]", "lue-2");
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(demo().text("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_TYONRO=10008").toInt(), 1);
}

// A frozen database: a call that needs it fails within its limit plus a second; Ping of
// another session keeps answering; after the database thaws, everything works again.
TEST_F(EndpointFaultTest, FrozenDatabaseFailsCallsAtTheLimitAndRecovers)
{
    auto writer = openVarasto();
    auto pinger = openVarasto();
    double longestPing = 0;
    {
        FrozenMariaDb frozen;
        std::thread pings([&] {
            for (int i = 0; i < 20; ++i) {
                const auto start = Clock::now();
                try {
                    pinger->call("Ping", R"(["Kairanet", "pda-1"])");
                } catch (const client::KrpError&) {
                }
                longestPing = std::max(longestPing, secondsSince(start));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        const auto start = Clock::now();
        const auto a = writer->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])");
        EXPECT_LT(secondsSince(start), 2 + 1.0);
        EXPECT_NE(std::string(a.text).find("aikaraja"), std::string::npos) << a.text;
        pings.join();
    }
    EXPECT_LT(longestPing, 2 + 1.0);
    const auto start = Clock::now();
    std::string answer;
    for (int i = 0; i < 20 && answer != R"({"result":""})"; ++i) {
        answer = writer->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])").text;
        if (answer != R"({"result":""})")
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_EQ(answer, R"({"result":""})");
    EXPECT_LT(secondsSince(start), 10.0);
}

// The program started headless while the database is down keeps running and trying; once the
// database is back it serves within 15 s, without a restart.
TEST(HeadlessFaultTest, StartWithTheDatabaseDownServesOnceItIsBack)
{
    if (!mariaDbServerControllable())
        GTEST_SKIP() << mariaDbServerSkipMessage();
    constexpr int port = 15811;
    TestCertificate certificate;  // its directory is the program's configuration directory
    std::ofstream(certificate.directory() / "asetukset.ini")
        << "[Tietokanta]\nVerkkonimi=odbc:" << qgetenv("KRP_TEST_ODBC").toStdString()
        << "\nYhteyden_aikaraja=2\n[Palvelu]\nPortti=" << port << "\n";

    StoppedMariaDb stopped;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KRP_PROGRAM),
                  {QStringLiteral("--config-dir"), QString::fromStdString(certificate.directory().string())});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray output;
    for (int i = 0; i < 200 && !output.contains("Yritetään uudelleen"); ++i) {
        program.waitForReadyRead(100);
        output += program.readAll();
    }
    EXPECT_TRUE(output.contains("Yritetään uudelleen")) << output.toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);

    stopped.start();
    const auto back = Clock::now();
    client::KrpClientOptions options;
    options.transport.port = port;
    options.transport.caFile = certificate.certificateFile();
    options.transport.verifyPeer = true;
    bool serving = false;
    while (!serving && secondsSince(back) < 20) {
        try {
            client::KrpClient c(options);
            c.openSession({"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"});
            c.closeSession();
            serving = true;
        } catch (const client::KrpError&) {
            program.waitForReadyRead(250);
            output += program.readAll();
        }
    }
    EXPECT_TRUE(serving) << output.toStdString();
    EXPECT_LT(secondsSince(back), 15.0);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    EXPECT_TRUE(program.waitForFinished(30000));
}

}  // namespace
}  // namespace krp::test
