// The endpoint under pressure, over real TLS: a session's bounded queue of waiting calls, the
// cap of open sessions, and a stop that answers every call in flight.
#include "EndpointFixture.h"

#include "client/transport/HttpsClient.h"
#include "types/UTyypit.h"

#include <QByteArray>

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

namespace krp::test {
namespace {

using client::HttpsClient;
using client::HttpsClientResponse;
using client::KrpClient;
using Clock = std::chrono::steady_clock;

class EndpointLimitsTest : public EndpointFixture {
protected:
    // One request on a connection of its own, in the session `id`.
    HttpsClientResponse callIn(HttpsClient& http, const std::string& id, const std::string& method,
                               const std::string& arguments)
    {
        return http.request("POST", "/api/v1/methods/" + method, arguments,
                            {{"Authorization", "Bearer " + id}, {"Content-Type", "application/json"}});
    }

    HttpsClientResponse openSessionRaw(HttpsClient& http)
    {
        const std::string credentials =
            std::string(types::PALVELIMEN_KAYTTAJATUNNUS) + ":" + types::PALVELIMEN_SALASANA;
        const std::string body = "{\"Application\":\"Kairanet\",\"Token\":\"" + kPaasykoodi.toStdString() +
                                 "\",\"ApplicationUserName\":\"" + kKayttaja.toStdString() +
                                 "\",\"ApplicationPassword\":\"" + kSalasana.toStdString() + "\"}";
        return http.request(
            "POST", "/api/v1/session", body,
            {{"Authorization", "Basic " + QByteArray::fromStdString(credentials).toBase64().toStdString()},
             {"Content-Type", "application/json"}});
    }

    // The longest of `count` Pings of `client`, in milliseconds.
    static double slowestPing(KrpClient& client, int count)
    {
        double slowest = 0;
        for (int i = 0; i < count; ++i) {
            const auto begin = Clock::now();
            client.call("Ping", R"(["Kairanet","toinen"])");
            slowest = std::max(slowest, std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        }
        return slowest;
    }
};

TEST_F(EndpointLimitsTest, AtMostEightCallsOfASessionWaitTheRestAre429AndOtherSessionsGoOn)
{
    auto owner = openClient();
    auto other = openClient();
    const std::string id = owner->sessionId();

    // The first call holds the session's turn until the gate opens.
    std::vector<std::unique_ptr<HttpsClient>> connections;
    for (int i = 0; i < 40; ++i)
        connections.push_back(std::make_unique<HttpsClient>(clientOptions().transport));
    auto first = std::async(std::launch::async, [&] { return callIn(*connections[0], id, "Portti", "[0]"); });
    ASSERT_TRUE(gate.waitForInside(1));

    std::vector<std::future<HttpsClientResponse>> rest;
    for (int i = 1; i < 40; ++i)
        rest.push_back(std::async(std::launch::async, [&, i] {
            return callIn(*connections[i], id, "Portti", "[" + std::to_string(i) + "]");
        }));

    // 8 wait; the other 31 are refused at once, while the gate is still shut.
    const auto answered = [&] {
        return std::count_if(rest.begin(), rest.end(),
                             [](auto& a) { return a.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    };
    for (int i = 0; i < 500 && answered() < 31; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a 32nd would show now
    int refused = 0;
    for (auto& answer : rest) {
        if (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            continue;  // waiting for its turn
        const auto r = answer.get();
        EXPECT_EQ(r.status, 429) << r.body;
        EXPECT_EQ(r.header("Retry-After"), "1");
        ++refused;
    }
    EXPECT_EQ(refused, 31);
    EXPECT_EQ(container->sessions().find(id)->pendingCalls(), 9u);

    // Meanwhile another session's Pings answer at once (the bound only catches a hang).
    EXPECT_LT(slowestPing(*other, 20), 1000.0);

    gate.release();
    EXPECT_EQ(first.get().status, 200);
    int served = 0;
    for (auto& answer : rest)
        if (answer.valid() && answer.get().status == 200)
            ++served;
    EXPECT_EQ(served, 8);
    pumpBriefly(100);
    EXPECT_EQ(countLog(QStringLiteral(
                  "Istunnon kutsuja odottaa jo enimmäismäärä, kutsu torjuttiin (429): Portti (127.0.0.1)")),
              1)
        << logLines().join('\n').toStdString();
}

TEST_F(EndpointLimitsTest, SettingsBoundTheWaitingCallsAndTheOpenSessions)
{
    replaceContainer([](ServerContainerOptions& o) {
        o.maxSessions = 2;
        o.maxWaitingCalls = 0;
    });
    auto a = openClient();
    auto b = openClient();

    HttpsClient http(clientOptions().transport);
    const auto past = openSessionRaw(http);
    EXPECT_EQ(past.status, 503) << past.body;
    EXPECT_EQ(past.header("Retry-After"), "30");
    EXPECT_NE(past.body.find("enimmäismäärä 2"), std::string::npos) << past.body;
    // A second refusal within the minute is not logged again.
    EXPECT_EQ(openSessionRaw(http).status, 503);
    pumpBriefly(100);
    EXPECT_EQ(countLog(QStringLiteral("Istunnon avaus torjuttiin (503): Avoimia istuntoja on jo enimmäismäärä 2.")), 1)
        << logLines().join('\n').toStdString();

    // No call may wait: the second one of a busy session is refused.
    HttpsClient busy(clientOptions().transport);
    auto held = std::async(std::launch::async, [&] { return callIn(busy, a->sessionId(), "Portti", "[1]"); });
    ASSERT_TRUE(gate.waitForInside(1));
    EXPECT_EQ(callIn(http, a->sessionId(), "Ping", R"(["Kairanet","x"])").status, 429);
    gate.release();
    EXPECT_EQ(held.get().status, 200);

    // A closed session frees its place.
    b->closeSession();
    EXPECT_EQ(openSessionRaw(http).status, 200);
}

TEST_F(EndpointLimitsTest, StopAnswersCallsInFlightAndRefusesTheRest)
{
    auto running = openClient();
    auto waiting = openClient();
    auto idle = openClient();

    // One call in flight, one of its session waiting behind it, an idle kept-alive connection.
    HttpsClient inFlight(clientOptions().transport);
    HttpsClient queued(clientOptions().transport);
    auto first =
        std::async(std::launch::async, [&] { return callIn(inFlight, running->sessionId(), "Portti", "[7]"); });
    ASSERT_TRUE(gate.waitForInside(1));
    auto second = std::async(std::launch::async,
                             [&] { return callIn(queued, running->sessionId(), "KaikuTeksti", R"(["ei"])"); });
    for (int i = 0; i < 200 && container->sessions().find(running->sessionId())->pendingCalls() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    idle->call("Ping", R"(["Kairanet","idle"])");  // its connection stays open

    auto stop = std::async(std::launch::async, [&] { container->stop(); });

    // The waiting call never ran; new requests on open connections are 503, new connections
    // are refused.
    const auto queuedAnswer = second.get();
    EXPECT_EQ(queuedAnswer.status, 503);
    EXPECT_NE(queuedAnswer.body.find("Palvelu pysäytetään"), std::string::npos) << queuedAnswer.body;
    for (const auto& [method, target] :
         {std::pair{"POST", "/api/v1/methods/Ping"}, std::pair{"POST", "/api/v1/session"},
          std::pair{"GET", "/api/v1/providers/dspTuotelista"}}) {
        try {
            const auto r = idle->transport().request(method, target, R"(["Kairanet","idle"])",
                                                     {{"Authorization", "Bearer " + idle->sessionId()}});
            EXPECT_EQ(r.status, 503) << target;
            EXPECT_FALSE(r.header("Retry-After").empty());
        } catch (const std::exception& e) {
            ADD_FAILURE() << target << ": " << e.what();
        }
    }
    HttpsClient late(clientOptions().transport);
    EXPECT_ANY_THROW(late.request("POST", "/api/v1/methods/Ping", "[]", {}));
    EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);

    // The call in flight finishes and its answer arrives; only then is the stop over.
    gate.release();
    const auto answer = first.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, R"({"result":7})");
    ASSERT_EQ(stop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(container->isStarted());
    EXPECT_EQ(container->sessions().size(), 0u);
    EXPECT_GE(waitForLog(QStringLiteral("Yhteys katkaistu: 127.0.0.1")), 0);
    EXPECT_EQ(findLog(QStringLiteral("katkaistiin")), -1);
}

TEST_F(EndpointLimitsTest, CallsPastTheStopDeadlineAreNamedInTheLog)
{
    replaceContainer([](ServerContainerOptions& o) { o.stopDeadline = std::chrono::milliseconds(300); });
    auto client = openClient();
    HttpsClient http(clientOptions().transport);
    auto held = std::async(std::launch::async, [&] {
        try {
            return callIn(http, client->sessionId(), "Portti", "[1]").status;
        } catch (const std::exception&) {
            return 0;  // the connection closed without an answer
        }
    });
    ASSERT_TRUE(gate.waitForInside(1));
    const auto begin = Clock::now();
    container->stop();  // on this (the main) thread, as the window does
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
    EXPECT_EQ(held.get(), 0);
    gate.release();
    EXPECT_GE(waitForLog(QStringLiteral(
                  "Pysäytys: kutsu ei valmistunut määräajassa (300 ms) ja katkaistiin: Portti (127.0.0.1)")),
              0)
        << logLines().join('\n').toStdString();
}

}  // namespace
}  // namespace krp::test
