// Keyed method calls over real TLS: a repeat with the same key gets the kept answer without the
// method running again (also while the first is still running, and after a dropped
// connection, where the staging row must exist once), refused and reused keys, and the last
// 32 keys of a session.
#include "DemoEndpointFixture.h"
#include "EndpointFixture.h"
#include "RawTlsClient.h"

#include <chrono>
#include <string>
#include <thread>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

class IdempotentCallTest : public EndpointFixture {};

// The HTTP status of a call that the client reports as a KrpError; 200 when it succeeded.
int statusOfCall(KrpClient& client, const std::string& method, const std::string& args, const std::string& key)
{
    try {
        client.call(method, args, key);
        return 200;
    } catch (const KrpError& e) {
        return e.status();
    }
}

TEST_F(IdempotentCallTest, ARepeatedKeyGetsTheKeptAnswerWithoutRunningAgain)
{
    auto client = openClient();
    const auto first = client->call("Odota", "[0]", "tulo:0001");
    EXPECT_EQ(first.text, R"({"result":1})");
    EXPECT_FALSE(client->lastResponse().replayed);

    const auto again = client->call("Odota", "[0]", "tulo:0001");
    EXPECT_EQ(again.text, first.text);
    EXPECT_TRUE(client->lastResponse().replayed);

    EXPECT_EQ(client->call("Odota", "[0]", "tulo:0002").text, R"({"result":2})");
    EXPECT_EQ(client->call("Odota", "[0]").text, R"({"result":3})");  // a fresh key of its own

    // Keys belong to their session: the same key in another session runs the method.
    auto other = openClient();
    EXPECT_EQ(other->call("Odota", "[0]", "tulo:0001").text, R"({"result":4})");
    EXPECT_FALSE(other->lastResponse().replayed);

    // An error answer is kept as well: the repeat gets it, and the error is logged once.
    const int mark = static_cast<int>(logLines().size());
    for (int i = 0; i < 2; ++i) {
        try {
            client->call("Virhe", R"(["Hylly täynnä"])", "virhe-1");
            ADD_FAILURE() << "no error";
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), 500);
            EXPECT_EQ(e.error(), "Hylly täynnä");
            EXPECT_EQ(client->lastResponse().replayed, i == 1);
        }
    }
    ASSERT_GE(waitForLog(QStringLiteral("Server: Tapahtui virhe: Hylly täynnä"), mark), 0);
    pumpBriefly();
    EXPECT_EQ(countLog(QStringLiteral("Server: Tapahtui virhe: Hylly täynnä")), 1);
    EXPECT_EQ(overlap.odotaRuns, 4);
}

TEST_F(IdempotentCallTest, BadAndReusedKeysAreRefusedWithoutRunningTheMethod)
{
    auto client = openClient();
    ASSERT_EQ(client->call("Odota", "[0]", "k").text, R"({"result":1})");
    struct Case {
        const char* name;
        std::string method;
        std::string args;
        std::string key;
        int status;
    };
    const Case cases[] = {
        {"empty key", "Odota", "[0]", "", 400},
        {"65 characters", "Odota", "[0]", std::string(65, 'k'), 400},
        {"a space", "Odota", "[0]", "tulo 1", 400},
        {"a slash", "Odota", "[0]", "tulo/1", 400},
        {"a letter outside ASCII", "Odota", "[0]", "tulo-\xc3\xa4", 400},
        {"kept key, another method", "Vuoro", "[0]", "k", 422},
        {"kept key, another body", "Odota", "[1]", "k", 422},
        {"kept key, the body spaced otherwise", "Odota", "[ 0 ]", "k", 422},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusOfCall(*client, c.method, c.args, c.key), c.status) << c.name;
    EXPECT_EQ(overlap.odotaRuns, 1);
    EXPECT_EQ(overlap.most, 0);  // Vuoro never ran

    // A 64-character key is fine, and the session goes on.
    EXPECT_EQ(client->call("Odota", "[0]", std::string(64, 'k')).text, R"({"result":2})");
}

TEST_F(IdempotentCallTest, OnlyTheLast32KeysOfASessionAreKept)
{
    auto client = openClient();
    for (int i = 1; i <= 33; ++i)
        ASSERT_EQ(client->call("Odota", "[0]", "k" + std::to_string(i)).text,
                  R"({"result":)" + std::to_string(i) + "}");
    // k2..k33 are kept; k1, the oldest, was forgotten and runs again.
    EXPECT_EQ(client->call("Odota", "[0]", "k2").text, R"({"result":2})");
    EXPECT_TRUE(client->lastResponse().replayed);
    EXPECT_EQ(client->call("Odota", "[0]", "k33").text, R"({"result":33})");
    EXPECT_TRUE(client->lastResponse().replayed);
    EXPECT_EQ(client->call("Odota", "[0]", "k1").text, R"({"result":34})");
    EXPECT_FALSE(client->lastResponse().replayed);
}

TEST_F(IdempotentCallTest, TheClientRepeatsALostAnswerWithTheSameKeyAndTheRepeatWaitsForTheFirst)
{
    auto options = clientOptions();
    options.transport.timeout = std::chrono::milliseconds(400);
    options.callRepeats = 5;
    KrpClient client(options);
    client.openSession(validClient());
    // The first sending times out on the client while the method still runs; a repeat waits for
    // it in the session's order and gets its answer.
    const auto answer = client.call("Odota", "[700]");
    EXPECT_EQ(answer.text, R"({"result":1})");
    EXPECT_GE(client.lastResponse().attempts, 2);
    EXPECT_TRUE(client.lastResponse().replayed);
    EXPECT_EQ(overlap.odotaRuns, 1);

    // Without repeats the lost answer is the caller's error, status 0.
    options.callRepeats = 0;
    KrpClient once(options);
    once.useSession(client.sessionId());
    try {
        once.call("Odota", "[700]");
        ADD_FAILURE() << "no timeout";
    } catch (const KrpError& e) {
        EXPECT_EQ(e.status(), 0);
    }
}

class IdempotentRepeatTest : public DemoEndpointTest {};

TEST_P(IdempotentRepeatTest, ARepeatAfterADroppedConnectionWritesOneRowAndGetsTheSameAnswer)
{
    KrpClient client(clientOptions());
    client.openSession(demoClient("VARASTO", "Hylly42"));
    const std::string args =
        R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
        R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[)"
        R"({"type":"UTyypit.TVarastoontulorivi","id":2,"fields":{"id":"PDA7-R1","ostotilausnro":5001,)"
        R"("tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001","saapuvamaara":2,"kerattymaara":2,"keruupaateid":"pda-7"}}]}}])";
    const std::string key = "pda-7:tulo:0001";
    const QString count = QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID='PDA7-R1'");

    // The terminal sends the call and loses the connection before the answer.
    {
        RawTlsClient raw(container->listeningPort());
        ASSERT_TRUE(raw.handshake());
        ASSERT_TRUE(
            raw.send("POST /api/v1/methods/LisaaVarastoontulorivit HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "Authorization: Bearer " +
                     client.sessionId() + "\r\nIdempotency-Key: " + key +
                     "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(args.size()) +
                     "\r\n\r\n" + args));
        raw.abort();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (demo().integer(count) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(demo().integer(count), 1) << "the first sending never ran";

    // It repeats the call with the same key, twice: the same answer, and still one row.
    const auto first = client.call("LisaaVarastoontulorivit", args, key);
    EXPECT_TRUE(client.lastResponse().replayed);
    const auto second = client.call("LisaaVarastoontulorivit", args, key);
    EXPECT_TRUE(client.lastResponse().replayed);
    EXPECT_EQ(first.text, R"({"result":""})");
    EXPECT_EQ(second.text, first.text);
    EXPECT_EQ(demo().integer(count), 1);

    // A fresh key is a new call: it runs, and the taken id makes it fail.
    const auto fresh = client.call("LisaaVarastoontulorivit", args);
    EXPECT_FALSE(client.lastResponse().replayed);
    EXPECT_NE(fresh.text.find("Varastoontulorivien lis"), std::string::npos) << fresh.text;
    EXPECT_EQ(demo().integer(count), 1);
}

INSTANTIATE_TEST_SUITE_P(, IdempotentRepeatTest, ::testing::Values(Backend::Sqlite, Backend::MariaDb), backendName);

}  // namespace
}  // namespace krp::test
