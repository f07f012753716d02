// Session openings whose gates wait for a frozen MariaDB server (SIGSTOP): each opening is
// answered within the database's limits, however many come at once; Ping of an open session
// keeps answering; and a stop cut by its deadline closes every connection at once and leaves
// the calls it gave up on nothing to trip over, also when the database is closed behind them.
#include "EndpointFixture.h"

#include "support/MariaDbServer.h"
#include "support/TestDatabases.h"
#include "credentials/Palvelintunnukset.h"
#include "log/EventLog.h"

#include <QByteArray>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace krp::test {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The demo database on MariaDB, every limit of the database layer at `Seconds`.
template <int Seconds>
struct LimitedDatabase {
    LimitedDatabase()
        : demo(mariaDbConfigured() ? std::make_unique<TestDatabase>(Backend::MariaDb, Content::DemoData)
                                   : std::make_unique<TestDatabase>(Backend::Sqlite, Content::DemoData))
    {
        limitedSettings = demo->settings();
        limitedSettings.limits = db::Limits{Seconds, Seconds, Seconds};
    }
    std::unique_ptr<TestDatabase> demo;
    db::ConnectionSettings limitedSettings;
};

template <int Seconds>
class FrozenGates : private LimitedDatabase<Seconds>, public EndpointFixture {
protected:
    static constexpr int kLimit = Seconds;

    FrozenGates() : EndpointFixture(LimitedDatabase<Seconds>::limitedSettings) {}

    const db::ConnectionSettings& erpSettings() const { return LimitedDatabase<Seconds>::limitedSettings; }

    void SetUp() override
    {
        if (!mariaDbServerControllable())
            GTEST_SKIP() << mariaDbServerSkipMessage();
    }

    static client::ConnectProperties varasto() { return {"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"}; }

    // One session opening on a connection of its own: its status, or 0 when the connection
    // ended without an answer; and how long it took.
    struct Opening {
        int status = 0;
        double seconds = 0;
    };
    std::future<Opening> openAsync(std::chrono::milliseconds after = std::chrono::milliseconds(0))
    {
        const client::KrpClientOptions options = clientOptions();
        return std::async(std::launch::async, [options, after] {
            std::this_thread::sleep_for(after);
            const std::string credentials = QByteArray(types::PALVELIMEN_KAYTTAJATUNNUS)
                                                .append(':')
                                                .append(types::PALVELIMEN_SALASANA)
                                                .toBase64()
                                                .toStdString();
            Opening o;
            const auto start = Clock::now();
            try {
                client::KrpClient c(options);
                o.status = c.transport()
                               .request("POST", "/api/v1/session", client::connectPropertiesJson(varasto()),
                                        {{"Authorization", "Basic " + credentials}})
                               .status;
            } catch (const std::exception&) {
                o.status = 0;
            }
            o.seconds = secondsSince(start);
            return o;
        });
    }

    // The longest of `rounds` Pings of `client`, in seconds.
    static double longestPing(client::KrpClient& client, int rounds)
    {
        double longest = 0;
        for (int i = 0; i < rounds; ++i) {
            const auto start = Clock::now();
            client.call("Ping", R"(["Kairanet", "pda-1"])");
            longest = std::max(longest, secondsSince(start));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return longest;
    }

    // Pumps the event log until `count` openings have logged their connect line.
    bool openingsInsideTheirGates(int count)
    {
        return pumpUntil([&] { return logLines().filter(QStringLiteral("yhteyspyyntö osoitteesta")).size() >= count; });
    }
};

using OpeningsDuringAFrozenDatabase = FrozenGates<2>;
using StopDuringFrozenGates = FrozenGates<8>;

// Four openings 0.2 s apart while the database is frozen: none waits for another's statement,
// so each is answered 503 within the limit plus a second; Ping answers meanwhile.
TEST_F(OpeningsDuringAFrozenDatabase, EachIsAnsweredWithinTheLimits)
{
    client::KrpClient pinger(clientOptions());
    pinger.openSession(varasto());
    std::vector<Opening> answers;
    double ping = 0;
    {
        FrozenMariaDb frozen;
        std::vector<std::future<Opening>> openings;
        for (int i = 0; i < 4; ++i)
            openings.push_back(openAsync(std::chrono::milliseconds(200 * i)));
        ASSERT_TRUE(openingsInsideTheirGates(4));
        ping = longestPing(pinger, 20);
        for (auto& o : openings) {
            while (o.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
                pumpBriefly(5);
            answers.push_back(o.get());
        }
    }
    for (const Opening& o : answers) {
        EXPECT_EQ(o.status, 503);
        EXPECT_LT(o.seconds, kLimit + 1.0);
    }
    EXPECT_LT(ping, 0.050);
    // Back again: an opening passes its gates.
    std::future<Opening> again = openAsync();
    while (again.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        pumpBriefly(5);
    EXPECT_EQ(again.get().status, 200);
}

// SIGTERM's stop with a 2 s deadline while four openings wait inside their gates for the frozen
// database: the stop ends within 3 s, every connection is closed with it, and the window then
// closes the database under the abandoned calls without harm.
TEST_F(StopDuringFrozenGates, StopClosesEveryConnectionAtItsDeadline)
{
    replaceContainer([](ServerContainerOptions& o) { o.stopDeadline = std::chrono::seconds(2); });
    client::KrpClient pinger(clientOptions());
    pinger.openSession(varasto());
    {
        FrozenMariaDb frozen;
        std::vector<std::future<Opening>> openings;
        for (int i = 0; i < 4; ++i)
            openings.push_back(openAsync());
        ASSERT_TRUE(openingsInsideTheirGates(4));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (auto& o : openings)
            ASSERT_EQ(o.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
                << "the database did not freeze";
        EXPECT_LT(longestPing(pinger, 10), 0.050);

        const auto stopping = Clock::now();
        container->stop();
        EXPECT_LT(secondsSince(stopping), 3.0);
        EXPECT_EQ(
            logLines().filter(QStringLiteral("ei valmistunut määräajassa (2 s) ja katkaistiin: istunnon avaus")).size(),
            4);
        // Every connection went with the stop: the openings are answered or cut at once.
        for (auto& o : openings) {
            ASSERT_EQ(o.wait_for(std::chrono::seconds(1)), std::future_status::ready);
            EXPECT_NE(o.get().status, 200);
        }
        EXPECT_EQ(container->abandonedCalls(), 4u);
        // The window's stop closes the database next, while the gates still wait for it.
        database.close();
    }
    // Thawed, the abandoned calls end on their own, finding the pool closed.
    EXPECT_TRUE(pumpUntil([&] { return container->abandonedCalls() == 0; }));
    database.open(erpSettings());
    container->start();
    client::KrpClient after(clientOptions());
    after.openSession(varasto());
    EXPECT_LT(longestPing(after, 3), 0.050);
}

}  // namespace
}  // namespace krp::test
