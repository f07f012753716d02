// The HTTPS server with a real TLS client on loopback: keep-alive, what the handler sees and
// answers, TLS versions, the worker pool, stop and restart.
#include "RawTlsClient.h"
#include "ServerFixture.h"

#include <openssl/ssl.h>

#include <atomic>
#include <future>
#include <thread>

namespace krp::test {
namespace {

using client::HttpsClient;

class HttpsServerTest : public ServerFixture {};

TEST_F(HttpsServerTest, ServesSeveralRequestsOnOneKeptAliveConnection)
{
    HttpsClient client(clientOptions());
    for (int i = 0; i < 5; ++i) {
        const auto body = "{\"n\": " + std::to_string(i) + "}";
        const auto response = client.request("POST", "/echo", body);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body, body);
        EXPECT_EQ(response.header("Content-Type"), "application/json");
    }
    EXPECT_EQ(client.connectionsOpened(), 1u);
}

// Bodies on both sides of a TLS record's 16 KiB, and far beyond, go and come back whole on one
// connection; requests a client sends together in one record are each answered, in order.
TEST_F(HttpsServerTest, BodiesAcrossRecordBoundariesAndRequestsSentTogetherArriveWhole)
{
    HttpsClient client(clientOptions());
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{16'383}, std::size_t{16'384}, std::size_t{16'385}, std::size_t{300'001}}) {
        std::string body = "\"";
        for (std::size_t i = 0; body.size() + 1 < size; ++i)
            body += static_cast<char>('a' + (i * 7919 % 26));
        body += size > 1 ? "\"" : "";
        const auto response = client.request("POST", "/echo", body);
        ASSERT_EQ(response.status, 200) << size;
        EXPECT_EQ(response.body, body) << size;
    }
    EXPECT_EQ(client.connectionsOpened(), 1u);

    RawTlsClient raw(server.port());
    ASSERT_TRUE(raw.handshake());
    ASSERT_TRUE(
        raw.send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\n[1]"
                 "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\n[2]"));
    const std::string answers = raw.readUntilClosed();
    const auto first = answers.find("[1]");
    const auto second = answers.find("[2]");
    EXPECT_NE(first, std::string::npos) << answers;
    EXPECT_NE(second, std::string::npos) << answers;
    EXPECT_LT(first, second);
}

TEST_F(HttpsServerTest, HandlerSeesClientAddressProtocolAndHeaders)
{
    HttpsClient client(clientOptions());
    const auto response = client.request("GET", "/whoami", {}, {{"Authorization", "Bearer abc"}});
    ASSERT_EQ(response.status, 200);
    EXPECT_NE(response.body.find("\"address\": \"127.0.0.1\""), std::string::npos) << response.body;
    EXPECT_NE(response.body.find("\"protocol\": \"https\""), std::string::npos);
    EXPECT_NE(response.body.find("\"authorization\": \"Bearer abc\""), std::string::npos);
    EXPECT_EQ(response.body.find("\"port\": 0"), std::string::npos);
}

TEST_F(HttpsServerTest, HandlerStatusHeadersAndErrorsReachTheClient)
{
    setRoute([](const HttpRequest& request) -> HttpResponse {
        if (request.target == "/unauthorised") {
            auto r = HttpResponse::error(401, "Ei tunnistettu.");
            r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"KRPalvelin\"");
            r.headers.emplace_back("X-Injected", "a\r\nSet-Cookie: evil=1");
            r.headers.emplace_back("Content-Length", "1");
            return r;
        }
        if (request.target == "/closed")
            return HttpResponse::json(204, "ignored");
        if (request.target == "/odd-status")
            return HttpResponse::json(42, "{}");
        throw std::runtime_error("Tietokanta \"X\" ei vastaa");
    });
    HttpsClient client(clientOptions());

    const auto unauthorised = client.request("GET", "/unauthorised");
    EXPECT_EQ(unauthorised.status, 401);
    EXPECT_EQ(unauthorised.header("WWW-Authenticate"), "Basic realm=\"KRPalvelin\"");
    EXPECT_EQ(unauthorised.header("X-Injected"), "");
    EXPECT_EQ(unauthorised.header("Set-Cookie"), "");
    EXPECT_EQ(unauthorised.body, R"({"error": "Ei tunnistettu."})");

    const auto noContent = client.request("DELETE", "/closed");
    EXPECT_EQ(noContent.status, 204);
    EXPECT_EQ(noContent.body, "");

    const auto odd = client.request("GET", "/odd-status");
    EXPECT_EQ(odd.status, 500);

    const auto failed = client.request("POST", "/fails", "[]");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body, R"({"error": "Tietokanta \"X\" ei vastaa"})");

    EXPECT_EQ(client.connectionsOpened(), 1u) << "errors of the handler keep the connection";
}

void limitTls(SSL_CTX* context, int version)
{
    SSL_CTX_set_security_level(context, 0);  // let the client offer old versions at all
    SSL_CTX_set_min_proto_version(context, version);
    SSL_CTX_set_max_proto_version(context, version);
}

TEST_F(HttpsServerTest, AcceptsTls12And13AndRefusesOlderVersions)
{
    struct Case {
        int version;
        bool accepted;
    };
    for (const auto& c : {Case{TLS1_VERSION, false}, Case{TLS1_1_VERSION, false}, Case{TLS1_2_VERSION, true},
                          Case{TLS1_3_VERSION, true}}) {
        RawTlsClient raw(server.port(), [&](SSL_CTX* context) { limitTls(context, c.version); });
        EXPECT_EQ(raw.handshake(), c.accepted) << "TLS version 0x" << std::hex << c.version;
    }
    HttpsClient client(clientOptions());
    EXPECT_EQ(client.request("GET", "/size/2").status, 200);
}

TEST_F(HttpsServerTest, SlowHandlerOfOneConnectionDoesNotStallAnother)
{
    auto options = serverOptions();
    options.ioThreads = 1;  // one I/O thread: a handler blocking it would stall everyone
    options.workerThreads = 2;
    server.stop();
    server.start(options);

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    setRoute([&, released](const HttpRequest& request) {
        if (request.target == "/slow") {
            entered.set_value();
            released.wait();
        }
        return standardRoutes(request);
    });

    auto slow = std::async(std::launch::async, [&] {
        HttpsClient client(clientOptions());
        return client.request("GET", "/slow").status;
    });
    entered.get_future().wait();

    HttpsClient other(clientOptions());
    EXPECT_EQ(other.request("POST", "/echo", "{}").status, 200);
    release.set_value();
    EXPECT_EQ(slow.get(), 404);
}

TEST_F(HttpsServerTest, StopEndsOpenConnectionsAndStartServesAgainOnTheSamePort)
{
    const auto port = server.port();
    HttpsClient client(clientOptions());
    ASSERT_EQ(client.request("GET", "/size/10").status, 200);

    RawTlsClient idle(port);
    ASSERT_TRUE(idle.handshake());

    server.stop();
    EXPECT_FALSE(server.isStarted());
    EXPECT_EQ(server.port(), 0);
    idle.readUntilClosed(std::chrono::seconds(10));
    EXPECT_TRUE(idle.closedByServer());
    EXPECT_THROW(client.request("GET", "/size/10"), client::HttpsClientError);

    auto options = serverOptions();
    options.port = port;
    server.start(options);
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(client.request("GET", "/size/10").status, 200);
    server.stop();
    server.stop();  // twice is harmless
}

TEST_F(HttpsServerTest, StopWaitsForARunningHandler)
{
    std::promise<void> entered, release;
    std::atomic<bool> finished{false};
    setRoute([&](const HttpRequest& request) {
        entered.set_value();
        release.get_future().wait();
        finished = true;
        return standardRoutes(request);
    });
    auto call = std::async(std::launch::async, [&] {
        HttpsClient client(clientOptions());
        return client.request("POST", "/echo", "{}").status;
    });
    entered.get_future().wait();
    RawTlsClient idle(server.port());
    ASSERT_TRUE(idle.handshake());

    auto stopping = std::async(std::launch::async, [&] { server.stop(); });
    idle.readUntilClosed();  // stop is under way
    ASSERT_TRUE(idle.closedByServer());
    release.set_value();
    stopping.get();
    EXPECT_TRUE(finished) << "stop returned before the handler had finished";
    EXPECT_FALSE(server.isStarted());
    // Whether the answer still made it out depends on which came first, the close of its
    // connection or the answer; either way the client is not left waiting.
    try {
        call.get();
    } catch (const client::HttpsClientError&) {
    }
}

TEST_F(HttpsServerTest, StartWhileStartedIsRefused)
{
    EXPECT_THROW(server.start(serverOptions()), std::logic_error);
    EXPECT_TRUE(server.isStarted());
}

}  // namespace
}  // namespace krp::test
