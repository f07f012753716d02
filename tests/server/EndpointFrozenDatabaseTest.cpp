// A frozen database server (mariadbd stopped with SIGSTOP) holds up only the calls that wait
// for it: pings, provider fetches and session closes of other sessions keep answering, and
// everything goes on once the server runs again.
#include "DemoEndpointFixture.h"

#include <QFile>

#include <csignal>
#include <future>
#include <thread>
#include <vector>

namespace krp::test {
namespace {

using client::KrpClient;
using Clock = std::chrono::steady_clock;

// Stops the database server's process, and always lets it run again.
class FrozenProcess {
public:
    explicit FrozenProcess(pid_t pid) : pid_(pid) { frozen_ = ::kill(pid_, SIGSTOP) == 0; }
    ~FrozenProcess() { thaw(); }
    FrozenProcess(const FrozenProcess&) = delete;
    FrozenProcess& operator=(const FrozenProcess&) = delete;
    bool frozen() const { return frozen_; }
    void thaw()
    {
        if (std::exchange(frozen_, false))
            ::kill(pid_, SIGCONT);
    }

private:
    pid_t pid_;
    bool frozen_ = false;
};

class EndpointFrozenDatabaseTest : public DemoEndpointTest {
protected:
    // The process of the test's MariaDB server (local in the tests), from its pid file.
    pid_t serverProcess()
    {
        QFile file(demo().text(QStringLiteral("SELECT @@pid_file")));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<pid_t>(file.readAll().trimmed().toLong());
    }

    std::unique_ptr<KrpClient> warehouseClient()
    {
        auto c = std::make_unique<KrpClient>(clientOptions());
        c->openSession(demoClient("VARASTO", "Hylly42"));
        return c;
    }

    template <class Step>
    static double millisecondsOf(Step&& step)
    {
        const auto begin = Clock::now();
        step();
        return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    }
};

TEST_P(EndpointFrozenDatabaseTest, CallsThatNeedNoDatabaseGoOnWhileItIsFrozen)
{
    const pid_t mariadbd = serverProcess();
    ASSERT_GT(mariadbd, 0) << "the test's MariaDB server must run on this machine";

    auto fast = warehouseClient();
    fast->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])");
    const std::string rows = fast->provider("dspTuotelista").text;
    ASSERT_NE(rows.find("JP-1001"), std::string::npos) << rows;
    auto closing = warehouseClient();

    // More sessions than workers, each with a call that waits for the frozen database.
    std::vector<std::unique_ptr<KrpClient>> stuck;
    for (int i = 0; i < 6; ++i)
        stuck.push_back(warehouseClient());

    FrozenProcess freeze(mariadbd);
    ASSERT_TRUE(freeze.frozen());
    std::vector<std::future<int>> waiting;
    for (auto& client : stuck)
        waiting.push_back(std::async(std::launch::async, [&client] {
            client->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])");
            return client->lastResponse().status;
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // they are inside now
    for (auto& w : waiting)
        ASSERT_EQ(w.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the database did not freeze";

    // The bound only catches a call held up by the database (it would wait until SIGCONT).
    double slowest = 0;
    for (int i = 0; i < 20; ++i) {
        slowest = std::max(slowest, millisecondsOf([&] { fast->call("Ping", R"(["Kairanet","pda-1"])"); }));
        slowest = std::max(
            slowest, millisecondsOf([&] { fast->call("TarkistaKayttooikeus", R"(["", "VARASTO", "Hylly42"])"); }));
        slowest = std::max(slowest, millisecondsOf([&] { EXPECT_EQ(fast->provider("dspTuotelista").text, rows); }));
    }
    slowest = std::max(slowest, millisecondsOf([&] { closing->closeSession(); }));
    EXPECT_LT(slowest, 2000.0);

    // Back again: the held calls finish, and the database answers new ones.
    freeze.thaw();
    for (auto& w : waiting) {
        ASSERT_EQ(w.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_EQ(w.get(), 200);
    }
    fast->call("MonivaiheinenTuotehaku", R"([0, "6417000100014"])");
    EXPECT_EQ(fast->provider("dspTuotelista").text, rows);
}

INSTANTIATE_TEST_SUITE_P(Database, EndpointFrozenDatabaseTest, ::testing::Values(Backend::MariaDb), backendName);

}  // namespace
}  // namespace krp::test
