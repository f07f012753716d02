// Clients that try to hold the server, smuggle requests or make it read what nobody asked for:
// admission per address, the head check before the body, the body memory cap, framing.
#include "RawTlsClient.h"
#include "ServerFixture.h"

#include "shared/ContentCoding.h"
#include "server/transport/SelfSignedCertificate.h"

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace krp::test {
namespace {

using namespace std::chrono_literals;

class HttpsHostileClientTest : public ServerFixture {
protected:
    void restart(const std::function<void(transport::HttpsServerOptions&)>& change)
    {
        server.stop();
        auto options = serverOptions();
        change(options);
        server.start(options);
    }

    // A connection from `from` that finished its TLS handshake.
    std::unique_ptr<RawTlsClient> connected(const std::string& from)
    {
        auto raw = std::make_unique<RawTlsClient>(server.port(), std::function<void(SSL_CTX*)>{}, from);
        EXPECT_TRUE(raw->handshake()) << from;
        return raw;
    }

    // Sends one request on a fresh connection from `from`; the status of its answer.
    int statusFrom(const std::string& from, const std::string& request)
    {
        RawTlsClient raw(server.port(), {}, from);
        if (!raw.handshake() || !raw.send(request))
            return 0;
        return statusOf(raw.readHead());
    }

    static std::string post(const std::string& target, const std::string& body)
    {
        return "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }
};

TEST_F(HttpsHostileClientTest, TransferEncodingNotEndingInChunkedIsRefusedAndNothingAfterItRuns)
{
    std::atomic<int> deletes{0};
    setRoute([&](const HttpRequest& r) {
        if (r.method == "DELETE")
            ++deletes;
        return standardRoutes(r);
    });
    const char* codings[] = {"gzip", "chunked, identity", "identity", "chunked;x=1, gzip"};
    for (const char* coding : codings) {
        RawTlsClient raw(server.port());
        ASSERT_TRUE(raw.handshake());
        // Read as an empty body, the second request would run as one of its own.
        ASSERT_TRUE(raw.send(std::string("POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: ") + coding +
                             "\r\n\r\nDELETE /smuggled HTTP/1.1\r\nHost: x\r\n\r\n"));
        const std::string answer = raw.readUntilClosed();
        EXPECT_EQ(statusOf(answer), 400) << coding << ": " << answer;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << coding;
        EXPECT_EQ(answer.find("HTTP/1.1", 8), std::string::npos) << coding << ": a second answer";
        EXPECT_TRUE(raw.closedByServer()) << coding;
    }
    EXPECT_EQ(deletes.load(), 0);
    // Chunked as the last coding is read as before.
    EXPECT_EQ(
        statusFrom("", "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"),
        200);
}

TEST_F(HttpsHostileClientTest, AbsoluteFormTargetReachesItsPath)
{
    // A scheme alone, in another case, is the root (the fuzzer found a read past its end).
    const std::pair<const char*, int> cases[] = {
        {"https://localhost:14002/echo", 200}, {"HTTP://127.0.0.1:1/echo", 200}, {"httpS://", 404}, {"hTtP:", 404}};
    for (const auto& [target, status] : cases) {
        RawTlsClient raw(server.port());
        ASSERT_TRUE(raw.handshake());
        ASSERT_TRUE(raw.send(post(target, "{\"a\":1}")));
        const std::string answer = raw.readHead();
        EXPECT_EQ(statusOf(answer), status) << target << ": " << answer;
    }
}

TEST_F(HttpsHostileClientTest, OneAddressHoldingItsShareDoesNotLockOutAnother)
{
    std::vector<std::string> reports;
    std::mutex reportsMutex;
    restart([&](transport::HttpsServerOptions& o) {
        o.maxConnectionsPerAddress = 3;
        o.maxConnections = 5;
        o.onRefusedConnection = [&](const std::string& address, bool addressFull) {
            std::lock_guard lock(reportsMutex);
            reports.push_back(address + (addressFull ? " address" : " total"));
        };
    });

    std::vector<std::unique_ptr<RawTlsClient>> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(connected("127.0.0.2"));
    // Further connections of that address are closed at once, and reported once.
    for (int i = 0; i < 3; ++i) {
        RawTlsClient extra(server.port(), {}, "127.0.0.2");
        EXPECT_FALSE(extra.handshake(5s)) << i;
    }
    // Another address is served meanwhile.
    EXPECT_EQ(statusFrom("127.0.0.3", post("/echo", "{}")), 200);

    // The total holds as well: two more from a third address fill it.
    held.push_back(connected("127.0.0.4"));
    held.push_back(connected("127.0.0.4"));
    RawTlsClient overTotal(server.port(), {}, "127.0.0.5");
    EXPECT_FALSE(overTotal.handshake(5s));

    // A closed connection gives its place back.
    held.front()->abort();
    held.erase(held.begin());
    bool servedAgain = false;
    for (int attempt = 0; attempt < 50 && !servedAgain; ++attempt) {
        servedAgain = statusFrom("127.0.0.2", post("/echo", "{}")) == 200;
        if (!servedAgain)
            std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(servedAgain);

    std::lock_guard lock(reportsMutex);
    EXPECT_EQ(reports, (std::vector<std::string>{"127.0.0.2 address", "127.0.0.5 total"}));
}

TEST_F(HttpsHostileClientTest, ConnectionThatNeverFinishesItsHandshakeIsClosed)
{
    restart([](transport::HttpsServerOptions& o) { o.handshakeTimeout = 300ms; });
    RawTlsClient bare(server.port());
    // No TLS at all, and half a TLS hello: both are closed after the deadline.
    EXPECT_TRUE(bare.waitForPlainClose(5s));
    RawTlsClient half(server.port());
    ASSERT_TRUE(half.sendPlain(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)));
    EXPECT_TRUE(half.waitForPlainClose(5s));
}

TEST_F(HttpsHostileClientTest, HeadCheckAnswersBeforeAnyBodyByteIsSent)
{
    std::atomic<int> handled{0};
    std::atomic<int> checked{0};
    setRoute([&](const HttpRequest& r) {
        ++handled;
        return standardRoutes(r);
    });
    restart([&](transport::HttpsServerOptions& o) {
        o.checkHead = [&](const HttpRequest& r) -> std::optional<HttpResponse> {
            ++checked;
            EXPECT_TRUE(r.body.empty());
            if (r.header("Authorization") != "ok")
                return HttpResponse::error(401, "no");
            return std::nullopt;
        };
    });

    // The head announces 10 MB of gzip, none of which is sent: the answer comes anyway.
    RawTlsClient raw(server.port());
    ASSERT_TRUE(raw.handshake());
    ASSERT_TRUE(
        raw.send("POST /length HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\nContent-Length: 10000000\r\n\r\n"));
    const std::string answer = raw.readUntilClosed(10s);
    EXPECT_EQ(statusOf(answer), 401) << answer;
    EXPECT_TRUE(raw.closedByServer());

    // Let through, the body is read and handled; a request without a body is not checked
    // (its handler decides alone).
    EXPECT_EQ(statusFrom("", "POST /length HTTP/1.1\r\nHost: x\r\nAuthorization: ok\r\nContent-Length: 2\r\n\r\n{}"),
              200);
    EXPECT_EQ(statusFrom("", "GET /size/10 HTTP/1.1\r\nHost: x\r\n\r\n"), 200);
    EXPECT_EQ(checked.load(), 2);
    EXPECT_EQ(handled.load(), 2);
}

TEST_F(HttpsHostileClientTest, BodiesBeyondTheMemoryCapAreAnswered503AndTheCapComesBack)
{
    constexpr std::size_t KiB = 1024;
    // A body is leased four times its size, for what parsing it costs.
    restart([](transport::HttpsServerOptions& o) { o.maxBodyMemoryBytes = 4096 * KiB; });

    // One client announces 800 KiB and sends them slowly: its lease holds the memory.
    RawTlsClient slow(server.port());
    ASSERT_TRUE(slow.handshake());
    const std::string body(800 * KiB, ' ');
    ASSERT_TRUE(slow.send("POST /length HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body.substr(0, 100)));
    std::this_thread::sleep_for(200ms);

    RawTlsClient second(server.port());
    ASSERT_TRUE(second.handshake());
    ASSERT_TRUE(second.send("POST /length HTTP/1.1\r\nHost: x\r\nContent-Length: 300000\r\n\r\n"));
    const std::string refused = second.readUntilClosed();
    EXPECT_EQ(statusOf(refused), 503) << refused;
    EXPECT_NE(refused.find("Retry-After: "), std::string::npos);

    // A small body still fits beside it.
    EXPECT_EQ(statusFrom("", post("/length", "{}")), 200);

    // A compressed body is leased for what it may unpack to: a small bomb does not fit.
    const std::string bomb = transport::compress(std::string(16 * 1024 * KiB, 'a'), transport::ContentCoding::Gzip);
    EXPECT_EQ(statusFrom("", "POST /length HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\nContent-Length: " +
                                 std::to_string(bomb.size()) + "\r\n\r\n" + bomb),
              503);

    // Once the slow body is in, its memory is free again.
    ASSERT_TRUE(slow.send(body.substr(100)));
    EXPECT_EQ(statusOf(slow.readHead()), 200);
    EXPECT_EQ(statusFrom("", post("/length", std::string(900 * KiB, ' '))), 200);
}

TEST_F(HttpsHostileClientTest, ABodyHoldsWhatItsParsingCostsUntilItsAnswerIsThere)
{
    constexpr std::size_t MiB = 1024 * 1024;
    restart([](transport::HttpsServerOptions& o) { o.maxBodyMemoryBytes = 20 * MiB; });
    std::mutex mutex;
    std::condition_variable changed;
    bool inHandler = false;
    bool letGo = false;
    setRoute([&](const HttpRequest& request) {
        if (request.target == "/wait") {
            std::unique_lock lock(mutex);
            inHandler = true;
            changed.notify_all();
            changed.wait(lock, [&] { return letGo; });
        }
        HttpRequest measured = request;
        measured.target = "/length";
        return standardRoutes(measured);
    });

    // A body of 2 MiB in its handler holds 8 MiB of the 20 until it is answered.
    RawTlsClient waiting(server.port(), {}, "127.0.0.2");
    ASSERT_TRUE(waiting.handshake());
    ASSERT_TRUE(waiting.send(post("/wait", std::string(2 * MiB, ' '))));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return inHandler; }));
    }
    // 3.5 MiB more would fit as bytes, not as what they cost: refused before they are read.
    RawTlsClient large(server.port(), {}, "127.0.0.3");
    ASSERT_TRUE(large.handshake());
    ASSERT_TRUE(large.send("POST /length HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(3 * MiB + MiB / 2) +
                           "\r\n\r\n"));
    EXPECT_EQ(statusOf(large.readUntilClosed()), 503);
    EXPECT_EQ(statusFrom("127.0.0.3", post("/length", std::string(MiB, ' '))), 200);

    {
        std::lock_guard lock(mutex);
        letGo = true;
    }
    changed.notify_all();
    EXPECT_EQ(statusOf(waiting.readHead()), 200);
    // Answered, the waiting body's memory is free again: the same body now fits.
    EXPECT_EQ(statusFrom("127.0.0.3", post("/length", std::string(3 * MiB + MiB / 2, ' '))), 200);

    // A chunked body is leased for the largest body's bytes while it is read (16 MiB) and for
    // what it costs once it is in: 6 MiB cost 24, more than all 20; 4 MiB cost 16.
    const auto chunked = [&](int megabytes) {
        std::string text = "POST /length HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < megabytes; ++i)
            text += "100000\r\n" + std::string(MiB, ' ') + "\r\n";
        return text + "0\r\n\r\n";
    };
    EXPECT_EQ(statusFrom("127.0.0.3", chunked(6)), 503);
    EXPECT_EQ(statusFrom("127.0.0.3", chunked(4)), 200);
}

// A chunked body of one byte with `extension` on its first chunk and `trailer` (whole lines)
// after its last.
std::string chunked(const std::string& extension, const std::string& trailer)
{
    return "POST /length HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n1" + extension + "\r\nx\r\n0\r\n" +
           trailer + "\r\n";
}

TEST_F(HttpsHostileClientTest, ChunkExtensionsAndTrailersPastTheirLimitAreRefusedAndTheServerGoesOn)
{
    std::string manySmallExtensions = "POST /length HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        manySmallExtensions += "1;e=" + std::string(1000, 'e') + "\r\nx\r\n";
    manySmallExtensions += "0\r\n\r\n";
    std::string manySmallTrailers;
    for (int i = 0; i < 20; ++i)
        manySmallTrailers += "X-T" + std::to_string(i) + ": " + std::string(1000, 't') + "\r\n";

    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        // A trailer value past what one field may hold made the parser throw out of the I/O thread.
        {"one trailer field of 65,534 bytes", chunked("", "X-T: " + std::string(65534, 'a') + "\r\n"), 431},
        {"one trailer field of 65,533 bytes", chunked("", "X-T: " + std::string(65533, 'a') + "\r\n"), 431},
        {"trailers of 20 KB in all", chunked("", manySmallTrailers), 431},
        {"a chunk extension of 1 MiB", chunked(";e=" + std::string(1024 * 1024, 'e'), ""), 431},
        {"chunk extensions of 20 KB in all", manySmallExtensions, 431},
        {"a small extension and trailer", chunked(";e=1", "X-T: a\r\n"), 200},
    };
    for (const auto& c : cases) {
        RawTlsClient raw(server.port());
        ASSERT_TRUE(raw.handshake());
        raw.send(c.request);  // the server may answer and close before all of it is sent
        const std::string answer = raw.readHead(20s);
        EXPECT_EQ(statusOf(answer), c.status) << c.what << ": " << answer.substr(0, 200);
        // The server is up and serves another address.
        EXPECT_EQ(statusFrom("127.0.0.2", post("/echo", "{}")), 200) << c.what;
    }
}

TEST_F(HttpsHostileClientTest, TrailerFieldsDoNotReachTheHandler)
{
    std::string seen;
    setRoute([&](const HttpRequest& r) {
        for (const auto& [name, value] : r.headers)
            seen += name + ";";
        return standardRoutes(r);
    });
    EXPECT_EQ(statusFrom("", chunked("", "Authorization: Bearer x\r\n")), 200);
    EXPECT_EQ(seen.find("Authorization"), std::string::npos) << seen;
}

TEST_F(HttpsHostileClientTest, AnExceptionInOneConnectionEndsOnlyThatConnection)
{
    // With a head limit this large, a trailer field longer than a field may be reaches the
    // parser's field store, which throws.
    std::atomic<int> faults{0};
    restart([&](transport::HttpsServerOptions& o) {
        o.maxHeaderBytes = 128 * 1024;
        o.onConnectionFault = [&](const std::string&) { ++faults; };
    });
    RawTlsClient held(server.port(), {}, "127.0.0.3");
    ASSERT_TRUE(held.handshake());
    for (int i = 0; i < 3; ++i) {
        RawTlsClient raw(server.port());
        ASSERT_TRUE(raw.handshake());
        raw.send(chunked("", "X-T: " + std::string(70000, 'a') + "\r\n"));
        raw.readUntilClosed(10s);
        EXPECT_TRUE(raw.closedByServer()) << i;
    }
    // Reported once the thread has caught it, which may be just after the socket closed.
    for (int wait = 0; wait < 100 && faults.load() < 3; ++wait)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(faults.load(), 3);
    // Both I/O threads still serve, new connections and one opened before.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(statusFrom("127.0.0.2", post("/echo", "{}")), 200) << i;
    ASSERT_TRUE(held.send(post("/echo", "{}")));
    EXPECT_EQ(statusOf(held.readHead()), 200);
}

TEST_F(HttpsHostileClientTest, HostHeaderAndHttp10Framing)
{
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"HTTP/1.1 without Host", "POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 400},
        {"HTTP/1.1 with two", "POST /echo HTTP/1.1\r\nHost: x\r\nHost: y\r\nContent-Length: 2\r\n\r\n{}", 400},
        {"HTTP/1.1 with one", "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}", 200},
        {"HTTP/1.0 without Host", "POST /echo HTTP/1.0\r\nContent-Length: 2\r\n\r\n{}", 200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusFrom("", c.request), c.status) << c.what;

    // HTTP/1.0 with Transfer-Encoding: answered, then nothing more is read on the connection.
    RawTlsClient raw(server.port());
    ASSERT_TRUE(raw.handshake());
    ASSERT_TRUE(
        raw.send("POST /echo HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
                 "2\r\n{}\r\n0\r\n\r\nPOST /echo HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\n{}"));
    const std::string answer = raw.readUntilClosed(10s);
    EXPECT_GT(statusOf(answer), 0) << answer;
    EXPECT_TRUE(raw.closedByServer());
    EXPECT_EQ(answer.find("HTTP/1.", 8), std::string::npos) << "a second answer: " << answer;
}

TEST_F(HttpsHostileClientTest, OneAddressHoldsOnlyItsShareOfTheBodyMemory)
{
    // Sixteen heads from one address, each announcing the largest body and sending none of it:
    // with 256 MiB for bodies, that address holds a quarter, what one body of 16 MiB costs
    // while it is parsed; the rest are refused at once.
    std::vector<std::unique_ptr<RawTlsClient>> held;
    int refused = 0;
    const std::string head = "POST /length HTTP/1.1\r\nHost: x\r\nContent-Length: 16777216\r\n\r\n";
    for (int i = 0; i < 16; ++i) {
        held.push_back(connected("127.0.0.2"));
        ASSERT_TRUE(held.back()->send(head));
    }
    for (auto& raw : held) {
        const std::string answer = raw->readHead(1500ms);
        if (statusOf(answer) == 503)
            ++refused;
    }
    EXPECT_EQ(refused, 15);
    // Another address is served meanwhile (with the whole budget taken, it would get 503).
    EXPECT_EQ(statusFrom("127.0.0.3", post("/length", std::string(1024 * 1024, ' '))), 200);
}

// TLS: what a client can negotiate.
class HttpsTlsProfileTest : public ServerFixture {};

bool handshakeWith(std::uint16_t port, const char* tls12Ciphers)
{
    RawTlsClient raw(port, [&](SSL_CTX* ctx) {
        SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_cipher_list(ctx, tls12Ciphers);
    });
    return raw.handshake(5s);
}

TEST_F(HttpsTlsProfileTest, Tls12OffersOnlyEphemeralKeyExchangeWithAead)
{
    // The test certificate's key is ECDSA; an RSA certificate is served the same way below.
    const struct {
        const char* ciphers;
        bool accepted;
    } cases[] = {
        {"ECDHE-ECDSA-AES128-GCM-SHA256", true},
        {"ECDHE-ECDSA-AES256-GCM-SHA384", true},
        {"ECDHE-ECDSA-CHACHA20-POLY1305", true},
        {"ECDHE-ECDSA-AES128-SHA", false},                      // CBC with SHA-1
        {"ECDHE-ECDSA-AES256-SHA384", false},                   // CBC
        {"AES128-GCM-SHA256:AES256-SHA:AES128-SHA256", false},  // static RSA key exchange
        {"DHE-RSA-AES128-GCM-SHA256", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(handshakeWith(server.port(), c.ciphers), c.accepted) << c.ciphers;

    // TLS 1.3 as it is.
    RawTlsClient tls13(server.port(), [](SSL_CTX* ctx) { SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION); });
    EXPECT_TRUE(tls13.handshake());

    // Key exchange on X25519, P-256 and P-384 only: a finite-field group costs the server a
    // hundred times the work, for nothing a client needs.
    const struct {
        const char* groups;
        bool accepted;
    } groups[] = {
        {"X25519", true},           {"P-256", true},      {"P-384", true},
        {"P-521", false},           {"ffdhe2048", false}, {"ffdhe8192", false},
        {"ffdhe2048:X25519", true},
    };
    for (const auto& g : groups) {
        RawTlsClient raw(server.port(), [&](SSL_CTX* ctx) {
            SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
            SSL_CTX_set1_groups_list(ctx, g.groups);
        });
        EXPECT_EQ(raw.handshake(5s), g.accepted) << g.groups;
    }
    // Under TLS 1.2 the list also names the curves of ECDHE and of an ECDSA certificate (the
    // test's is on P-256).
    for (const auto& [list, accepted] : {std::pair{"P-256", true}, {"X25519:P-256", true}, {"P-521", false}}) {
        RawTlsClient raw(server.port(), [&, list = list](SSL_CTX* ctx) {
            SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
            SSL_CTX_set1_groups_list(ctx, list);
        });
        EXPECT_EQ(raw.handshake(5s), accepted) << list << " TLS 1.2";
    }

    server.stop();
    auto options = serverOptions();
    options.certificateFile = (certificate.directory() / "rsa.pem").string();
    options.keyFile = (certificate.directory() / "rsa.key").string();
    transport::writeSelfSignedCertificate(options.certificateFile, options.keyFile, transport::CertificateKey::Rsa2048,
                                          1);
    server.start(options);
    EXPECT_TRUE(handshakeWith(server.port(), "ECDHE-RSA-AES128-GCM-SHA256"));
    EXPECT_FALSE(handshakeWith(server.port(), "AES128-GCM-SHA256:AES256-SHA"));
}

TEST_F(HttpsTlsProfileTest, AReconnectingClientResumesItsSession)
{
    for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        std::shared_ptr<SSL_SESSION> session;
        {
            RawTlsClient first(server.port(), [&](SSL_CTX* ctx) {
                SSL_CTX_set_min_proto_version(ctx, version);
                SSL_CTX_set_max_proto_version(ctx, version);
            });
            ASSERT_TRUE(first.handshake());
            // TLS 1.3 sends its ticket after the handshake: one request and answer bring it.
            ASSERT_TRUE(first.send("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}"));
            ASSERT_EQ(statusOf(first.readHead()), 200);
            session.reset(SSL_get1_session(first.nativeHandle()), &SSL_SESSION_free);
            ASSERT_TRUE(session);
            // Left as after a clean goodbye: a session torn down unannounced is not resumed.
            SSL_set_shutdown(first.nativeHandle(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        }
        SSL_SESSION* saved = session.get();
        RawTlsClient again(server.port(), [&](SSL_CTX* ctx) {
            SSL_CTX_set_min_proto_version(ctx, version);
            SSL_CTX_set_max_proto_version(ctx, version);
        });
        SSL_set_session(again.nativeHandle(), saved);
        ASSERT_TRUE(again.handshake());
        EXPECT_EQ(SSL_session_reused(again.nativeHandle()), 1) << "version " << version;
    }
}

}  // namespace
}  // namespace krp::test
