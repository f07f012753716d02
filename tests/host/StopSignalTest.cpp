// SIGTERM to the real krpalvelin while staging writes run: each of them is answered and
// its rows are in the database once; what arrives during the stop is refused and not done.
#include "support/QtTestApp.h"
#include "TestCertificate.h"

#include "client/KrpClient.h"
#include "support/TestDatabases.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <boost/asio/ip/tcp.hpp>

#include <csignal>
#include <future>
#include <thread>
#include <vector>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

// A port free at the moment (the program is given a fixed one in its settings).
std::uint16_t freePort()
{
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor a(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

// A list of `count` goods-received lines with ids PREFIX-0 ... as the terminals send it.
std::string tulorivit(const std::string& prefix, int count)
{
    std::string items;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            items += ',';
        items += R"({"type":"UTyypit.TVarastoontulorivi","id":)" + std::to_string(i + 2) + R"(,"fields":{"id":")" +
                 prefix + "-" + std::to_string(i) +
                 R"(","ostotilausnro":5001,"tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001",)"
                 R"("saapuvamaara":2,"kerattymaara":2,"keruupaateid":"pda-7"}})";
    }
    return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
           R"("FOwnsObjects":true,"FListHelper":[)" +
           std::to_string(count) + R"(],"FItems":[)" + items + "]}}]";
}

TEST(StopSignal, CallsInFlightAreAnsweredAndCallsDuringTheStopAreNotDone)
{
    qtApp();
    TestDatabase erp(Backend::Sqlite, Content::DemoData);
    TestCertificate config;  // the program's directory: test.pem, test.key, asetukset.ini
    const std::uint16_t port = freePort();
    config.writeFile("asetukset.ini", "[Tietokanta]\nVerkkonimi=sqlite:" + erp.settings().sqlitePath.toStdString() +
                                          "\n[Palvelu]\nPortti=" + std::to_string(port) +
                                          "\nTietokannan_tyyppi=1\nPysaytyksen_aikaraja=60\n");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KRP_PROGRAM),
                  {QStringLiteral("--config-dir"), QString::fromStdString(config.directory().string())});
    ASSERT_TRUE(program.waitForStarted());

    client::KrpClientOptions options;
    options.transport.host = "127.0.0.1";
    options.transport.port = port;
    options.transport.verifyPeer = true;
    options.transport.caFile = config.certificateFile();
    const client::ConnectProperties varasto{"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"};
    const auto connected = [&] {
        auto c = std::make_unique<KrpClient>(options);
        c->openSession(varasto);
        return c;
    };
    std::vector<std::unique_ptr<KrpClient>> writers;
    for (int attempt = 0; attempt < 200 && writers.empty(); ++attempt) {
        try {
            writers.push_back(connected());
        } catch (const KrpError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_EQ(writers.size(), 1u) << program.readAllStandardOutput().toStdString();
    writers.push_back(connected());
    auto late = connected();

    // How long one large write takes here.
    constexpr int kRows = 200;  // a second or more here: SQLite commits every row
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(late->call("LisaaVarastoontulorivit", tulorivit("V", kRows)).text, R"({"result":""})");
    const auto oneWrite = std::chrono::steady_clock::now() - begin;

    // Two large writes; the signal comes while the first runs and the other waits for the
    // database's write lock (both are in flight). More would wait past SQLite's busy timeout.
    std::vector<std::future<std::string>> inFlight;
    for (int i = 0; i < 2; ++i)
        inFlight.push_back(std::async(std::launch::async, [&, i] {
            try {
                return writers[i]->call("LisaaVarastoontulorivit", tulorivit("W" + std::to_string(i), kRows)).text;
            } catch (const KrpError& e) {
                return "status " + std::to_string(e.status()) + ": " + e.error();
            }
        }));
    std::this_thread::sleep_for(oneWrite / 2);
    ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);

    // A burst once the stop has begun (new connections are refused from then on), on an open
    // connection and on new ones: refused, never done.
    const auto refusesConnections = [port] {
        boost::asio::io_context io;
        boost::asio::ip::tcp::socket socket(io);
        boost::system::error_code ec;
        socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
        return ec == boost::asio::error::connection_refused;
    };
    for (int i = 0; i < 200 && !refusesConnections(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(refusesConnections());
    int refused = 0;
    for (int i = 0; i < 10; ++i) {
        try {
            KrpClient& c = i % 2 == 0 ? *late : *connected();
            c.call("LisaaVarastoontulorivit", tulorivit("B" + std::to_string(i), 1));
            ADD_FAILURE() << "a call during the stop was served";
        } catch (const KrpError& e) {
            EXPECT_TRUE(e.status() == 503 || e.status() == 0) << e.status() << " " << e.error();
            ++refused;
        }
    }
    EXPECT_EQ(refused, 10);

    // Every write in flight is answered, and done once.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(inFlight[i].get(), R"({"result":""})");
        EXPECT_EQ(erp.integer(QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID LIKE 'W%1-%'").arg(i)),
                  kRows);
    }
    ASSERT_TRUE(program.waitForFinished(90'000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    EXPECT_EQ(out.count(QStringLiteral("Yhteys katkaistu")), 3) << out.toStdString();

    EXPECT_EQ(erp.integer(QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID LIKE 'B%'")), 0);
}

}  // namespace
}  // namespace krp::test
