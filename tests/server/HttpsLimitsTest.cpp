// Hostile and oversized input: each is refused or dropped, and the server goes on serving.
#include "RawTlsClient.h"
#include "ServerFixture.h"

#include <thread>

namespace krp::test {
namespace {

using client::HttpsClient;
using transport::ContentCoding;

constexpr std::size_t MiB = 1024 * 1024;

class HttpsLimitsTest : public ServerFixture {
protected:
    void expectStillServing()
    {
        HttpsClient client(clientOptions());
        EXPECT_EQ(client.request("POST", "/echo", "{\"ok\": true}").body, "{\"ok\": true}");
    }
};

TEST_F(HttpsLimitsTest, MalformedRequestsAreAnsweredAndTheConnectionClosed)
{
    struct Case {
        const char* name;
        std::string bytes;
        int status;
    };
    std::string manyHeaders = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 2000; ++i)
        manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
    manyHeaders += "\r\n";
    const Case cases[] = {
        {"garbage", "\x01\x02\x03 nothing like HTTP\r\n\r\n", 400},
        {"header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n", 400},
        {"content-length not a number", "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: abc\r\n\r\n", 400},
        {"negative content-length", "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n", 400},
        {"two different content-lengths",
         "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", 400},
        {"content-length beyond any integer",
         "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999999999999999\r\n\r\n", 400},
        {"bad chunk size",
         "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nZZ\r\nhello\r\n0\r\n\r\n", 400},
        {"huge header", "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20'000, 'a') + "\r\n\r\n", 431},
        {"too many headers", manyHeaders, 431},
        {"declared body over 16 MiB",
         "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(17 * MiB) + "\r\n\r\n", 413},
        {"unknown content coding",
         "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Encoding: br\r\nContent-Length: 2\r\n\r\n{}", 415},
    };
    for (const auto& c : cases) {
        RawTlsClient raw(server.port());
        ASSERT_TRUE(raw.handshake()) << c.name;
        ASSERT_TRUE(raw.send(c.bytes)) << c.name;
        const auto head = raw.readHead();
        EXPECT_EQ(statusOf(head), c.status) << c.name << ": " << head;
        EXPECT_NE(head.find("Connection: close"), std::string::npos) << c.name;
        raw.readUntilClosed();
        EXPECT_TRUE(raw.closedByServer()) << c.name;
    }
    expectStillServing();
}

TEST_F(HttpsLimitsTest, BodyOf16MiBIsServedAndAChunkedBodyBeyondIsRefused)
{
    HttpsClient client(clientOptions());
    const auto exact = client.request("POST", "/length", std::string(16 * MiB, ' '));
    EXPECT_EQ(exact.status, 200);
    EXPECT_EQ(exact.body, "{\"length\": " + std::to_string(16 * MiB) + "}");

    RawTlsClient raw(server.port());
    ASSERT_TRUE(raw.handshake());
    raw.send("POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "100000\r\n" + std::string(MiB, 'x') + "\r\n";  // 1 MiB each
    for (int i = 0; i < 17; ++i)
        if (!raw.send(chunk))
            break;  // the server may stop listening once it has answered
    EXPECT_EQ(statusOf(raw.readHead()), 413);
    expectStillServing();
}

TEST_F(HttpsLimitsTest, CompressedBodyThatGrowsBeyond16MiBIs413)
{
    auto options = clientOptions();
    options.requestCoding = ContentCoding::Deflate;
    HttpsClient client(options);

    const auto bomb = client.request("POST", "/length", std::string(17 * MiB, '\0'));
    EXPECT_EQ(bomb.status, 413);
    const auto exact = client.request("POST", "/length", std::string(16 * MiB, '\0'));
    EXPECT_EQ(exact.status, 200);
    EXPECT_EQ(exact.body, "{\"length\": " + std::to_string(16 * MiB) + "}");
    EXPECT_EQ(client.connectionsOpened(), 1u) << "a fully read body keeps the connection";
}

TEST_F(HttpsLimitsTest, BrokenTlsAndPlainHttpAreDropped)
{
    {
        RawTlsClient plain(server.port());
        plain.sendPlain("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_FALSE(plain.handshake());
    }
    {
        RawTlsClient truncated(server.port());
        truncated.sendPlain(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));
        truncated.abort();
    }
    {
        RawTlsClient junk(server.port());
        junk.sendPlain(std::string(4096, '\x16'));
        EXPECT_FALSE(junk.handshake());
    }
    {
        RawTlsClient midRequest(server.port());
        ASSERT_TRUE(midRequest.handshake());
        midRequest.send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"a\"");
        midRequest.abort();
    }
    expectStillServing();
}

TEST_F(HttpsLimitsTest, SlowClientsAreCutOffByTheDeadlines)
{
    auto options = serverOptions();
    options.handshakeTimeout = std::chrono::milliseconds(300);
    options.idleTimeout = std::chrono::milliseconds(300);
    options.bodyTimeout = std::chrono::milliseconds(300);
    server.stop();
    server.start(options);

    {
        RawTlsClient idle(server.port());
        ASSERT_TRUE(idle.handshake());
        idle.readUntilClosed();
        EXPECT_TRUE(idle.closedByServer()) << "kept-alive connection without a request";
    }
    {
        RawTlsClient slowHeader(server.port());
        ASSERT_TRUE(slowHeader.handshake());
        slowHeader.send("GET / HTTP/1.1\r\nHost: x\r\n");
        slowHeader.readUntilClosed();
        EXPECT_TRUE(slowHeader.closedByServer()) << "header never finished";
    }
    {
        RawTlsClient slowBody(server.port());
        ASSERT_TRUE(slowBody.handshake());
        slowBody.send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"a\"");
        slowBody.readUntilClosed();
        EXPECT_TRUE(slowBody.closedByServer()) << "body never finished";
    }
    {
        RawTlsClient noHandshake(server.port());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_FALSE(noHandshake.handshake()) << "handshake not started in time";
    }
    expectStillServing();
}

// Each step's deadline counts from that step: a client that keeps sending requests outlives
// the idle deadline many times over, and one that stops reading its answer is cut off by the
// write deadline even while a longer deadline of an earlier step is still pending.
TEST_F(HttpsLimitsTest, EachStepsDeadlineCountsFromThatStep)
{
    auto options = serverOptions();
    options.idleTimeout = std::chrono::milliseconds(300);
    options.writeTimeout = std::chrono::milliseconds(300);
    server.stop();
    server.start(options);
    {
        HttpsClient busy(clientOptions());
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1200);
        while (std::chrono::steady_clock::now() < until) {
            ASSERT_EQ(busy.request("POST", "/echo", "{}").status, 200);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(busy.connectionsOpened(), 1u);
    }

    options.idleTimeout = std::chrono::seconds(30);
    server.stop();
    server.start(options);
    constexpr std::size_t answerSize = 64 * MiB;  // more than the socket buffers hold
    setRoute([](const HttpRequest& request) {
        return HttpResponse::json(200, request.target == "/big" ? std::string(answerSize, ' ') : request.body);
    });
    RawTlsClient reader(server.port());
    ASSERT_TRUE(reader.handshake());
    ASSERT_TRUE(reader.send("GET /big HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // reads nothing meanwhile
    const std::string received = reader.readUntilClosed();
    EXPECT_TRUE(reader.closedByServer());
    EXPECT_LT(received.size(), answerSize) << "the answer was written whole: nothing was cut off";
    expectStillServing();
}

}  // namespace
}  // namespace krp::test
