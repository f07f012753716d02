// Hostile and careless clients at the endpoint: guessing is throttled per address, refusals
// come before the body, client texts cannot forge log lines, answers do not echo megabytes.
#include "EndpointFixture.h"
#include "RawTlsClient.h"

#include "types/UTyypit.h"
#include "shared/JsonText.h"

#include <QByteArray>

#include <openssl/ssl.h>

namespace krp::test {
namespace {

using namespace std::chrono_literals;

class EndpointHostileClientTest : public EndpointFixture {
protected:
    static std::string basic(const std::string& user, const std::string& password)
    {
        return "Basic " + QByteArray::fromStdString(user + ":" + password).toBase64().toStdString();
    }
    static std::string appCredentials() { return basic(types::PALVELIMEN_KAYTTAJATUNNUS, types::PALVELIMEN_SALASANA); }

    static std::string properties(const QString& application, const QString& user, const QString& password)
    {
        const auto quoted = [](const QString& s) {
            return QString::fromStdString(transport::jsonQuoted(s.toStdString()));
        };
        return (QStringLiteral("{\"Application\":") + quoted(application) + QStringLiteral(",\"Token\":") +
                quoted(kPaasykoodi) + QStringLiteral(",\"ApplicationUserName\":") + quoted(user) +
                QStringLiteral(",\"ApplicationPassword\":") + quoted(password) + QStringLiteral("}"))
            .toStdString();
    }

    // One request on a fresh connection from `from`; the whole answer.
    std::string send(const std::string& from, const std::string& method, const std::string& target,
                     const std::string& authorization, const std::string& body)
    {
        RawTlsClient raw(container->listeningPort(), {}, from);
        if (!raw.handshake())
            return {};
        raw.send(method + " " + target + " HTTP/1.1\r\nHost: x\r\nAuthorization: " + authorization +
                 "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        return raw.readUntilClosed(20s);
    }

    std::string openFrom(const std::string& from, const std::string& authorization, const QString& password)
    {
        return send(from, "POST", "/api/v1/session", authorization, properties("Kairanet", kKayttaja, password));
    }

    static std::string headerOf(const std::string& answer, const std::string& name)
    {
        const auto at = answer.find("\r\n" + name + ": ");
        if (at == std::string::npos)
            return {};
        const auto start = at + name.size() + 4;
        return answer.substr(start, answer.find("\r\n", start) - start);
    }
};

TEST_F(EndpointHostileClientTest, GuessingFromOneAddressIsThrottledAndOthersAreServed)
{
    // Ten failures within a minute, of either gate, from 127.0.0.2.
    for (int i = 0; i < 10; ++i) {
        const bool gate1 = i % 2 == 0;
        const std::string answer = gate1 ? openFrom("127.0.0.2", basic("arvaus", "x"), kSalasana)
                                         : openFrom("127.0.0.2", appCredentials(), QStringLiteral("arvaus%1").arg(i));
        EXPECT_EQ(statusOf(answer), gate1 ? 401 : 403) << i;
    }
    // Then even the right password is not checked.
    const std::string locked = openFrom("127.0.0.2", appCredentials(), kSalasana);
    EXPECT_EQ(statusOf(locked), 429) << locked;
    const int wait = std::atoi(headerOf(locked, "Retry-After").c_str());
    EXPECT_GT(wait, 50);
    EXPECT_LE(wait, 60);
    EXPECT_EQ(statusOf(openFrom("127.0.0.2", basic("arvaus", "x"), kSalasana)), 429);

    // Another address is served, and the user is not locked out there.
    EXPECT_EQ(statusOf(openFrom("127.0.0.3", appCredentials(), kSalasana)), 200);

    // Failures are logged with address and user name (never the password); the lock-out once.
    EXPECT_TRUE(pumpUntil([&] {
        return countLog(QStringLiteral("Istunnon avaus hylätty: osoite 127.0.0.2, käyttäjätunnus \"MATTI\".")) == 5;
    }));
    EXPECT_EQ(countLog(QStringLiteral("Istunnon avaus hylätty: osoite 127.0.0.2, käyttäjätunnus \"arvaus\".")), 5);
    EXPECT_EQ(countLog(QStringLiteral("Liian monta epäonnistunutta kirjautumista osoitteesta 127.0.0.2; "
                                      "sen kirjautumisyritykset torjutaan 60 sekunnin ajan.")),
              1);
    for (const QString& line : logLines())
        EXPECT_FALSE(line.contains(QStringLiteral("arvaus1"))) << line.toStdString();
}

TEST_F(EndpointHostileClientTest, ASuccessClearsTheAddressSoCorrectLoginsAreNeverSlowed)
{
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(statusOf(openFrom("127.0.0.4", appCredentials(), QStringLiteral("väärä"))), 403);
        EXPECT_EQ(statusOf(openFrom("127.0.0.4", appCredentials(), kSalasana)), 200) << round;
    }
}

TEST_F(EndpointHostileClientTest, UnauthenticatedBodiesAreRefusedBeforeTheyAreSent)
{
    const struct {
        const char* what;
        std::string target;
        std::string authorization;
    } cases[] = {
        {"session without the credentials", "/api/v1/session", basic("x", "y")},
        {"method call without a session", "/api/v1/methods/KaikuTeksti", "Bearer 00112233445566778899aabbccddeeff"},
        {"method call with no id", "/api/v1/methods/KaikuTeksti", "Bearer "},
    };
    for (const auto& c : cases) {
        // A gzip bomb's head: 10 MB announced, not one byte of it sent.
        RawTlsClient raw(container->listeningPort());
        ASSERT_TRUE(raw.handshake());
        ASSERT_TRUE(raw.send("POST " + c.target + " HTTP/1.1\r\nHost: x\r\nAuthorization: " + c.authorization +
                             "\r\nContent-Encoding: gzip\r\nContent-Length: 10000000\r\n\r\n"));
        const std::string answer = raw.readUntilClosed(20s);
        EXPECT_EQ(statusOf(answer), 401) << c.what << ": " << answer;
        EXPECT_TRUE(raw.closedByServer()) << c.what;
    }
}

TEST_F(EndpointHostileClientTest, ClientTextsCannotForgeLogLinesNorFloodThem)
{
    const QString forged =
        QStringLiteral("Kaira\n01 Jan 2026 00:00:00: OnUserAuthenticate: FAKE") + QChar(0) + QStringLiteral("x");
    EXPECT_EQ(statusOf(send("127.0.0.1", "POST", "/api/v1/session", appCredentials(),
                            properties(forged, kKayttaja, kSalasana))),
              200);
    EXPECT_GE(waitForLog(QStringLiteral("Saatiin sovellukselta \"Kaira\\n01 Jan 2026 00:00:00: OnUserAuthenticate: "
                                        "FAKE\\x00x\" yhteyspyyntö osoitteesta 127.0.0.1. Protokolla: https")),
              0);
    EXPECT_EQ(findLog(QStringLiteral("OnUserAuthenticate: FAKE")), -1);

    const QString huge(1'000'000, QChar('A'));
    EXPECT_EQ(statusOf(send("127.0.0.1", "POST", "/api/v1/session", appCredentials(),
                            properties(huge, kKayttaja, kSalasana))),
              200);
    EXPECT_GE(waitForLog(QStringLiteral("Saatiin sovellukselta \"") + QString(200, QChar('A')) + QChar(0x2026) +
                         QStringLiteral("\" yhteyspyyntö osoitteesta 127.0.0.1. Protokolla: https")),
              0);
}

TEST_F(EndpointHostileClientTest, NotFoundDoesNotEchoALongName)
{
    auto client = openClient();
    const std::string name(8192, 'M');
    client::HttpsClient http(clientOptions().transport);
    const auto r =
        http.request("POST", "/api/v1/methods/" + name, "[]", {{"Authorization", "Bearer " + client->sessionId()}});
    EXPECT_EQ(r.status, 404);
    EXPECT_LT(r.body.size(), 400u) << r.body.substr(0, 100);
    EXPECT_NE(r.body.find(std::string(200, 'M') + "\xE2\x80\xA6"), std::string::npos);
}

TEST_F(EndpointHostileClientTest, AMisconfiguredAccessCodeIsNotCountedAgainstTheClient)
{
    // The stored code is missing, then too short: every opening is refused, none locks out.
    for (const std::optional<QString>& stored :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("lyhyt"))}) {
        setAccessCode(stored);
        for (int i = 0; i < 12; ++i) {
            const std::string answer = openFrom("127.0.0.5", appCredentials(), kSalasana);
            EXPECT_EQ(statusOf(answer), 403) << i << ": " << answer;
        }
    }
    // Mended by the administrator, the next opening goes through at once.
    setAccessCode(kPaasykoodi);
    EXPECT_EQ(statusOf(openFrom("127.0.0.5", appCredentials(), kSalasana)), 200);
    pumpBriefly();
    EXPECT_EQ(findLog(QStringLiteral("Istunnon avaus hylätty: osoite 127.0.0.5, käyttäjätunnus \"MATTI\".")), -1);
}

TEST_F(EndpointHostileClientTest, OneUsersSuccessDoesNotClearAnotherUsersFailures)
{
    // Guesses at MATTI's password, with a correct login of TYHJA (empty password) after every
    // nine: the tenth guess within the minute locks the address all the same, and the eleventh
    // is refused unchecked.
    int guesses = 0;
    int lockedAt = -1;
    for (int round = 0; round < 3 && lockedAt < 0; ++round) {
        for (int i = 0; i < 9 && lockedAt < 0; ++i) {
            const int status =
                statusOf(openFrom("127.0.0.6", appCredentials(), QStringLiteral("arvaus%1").arg(guesses)));
            ++guesses;
            if (status == 429)
                lockedAt = guesses;
            else
                EXPECT_EQ(status, 403) << guesses;
        }
        if (lockedAt < 0) {
            const std::string other = send("127.0.0.6", "POST", "/api/v1/session", appCredentials(),
                                           properties("Kairanet", QStringLiteral("TYHJA"), QString()));
            const int status = statusOf(other);
            if (status == 429)
                lockedAt = guesses;
            else
                EXPECT_EQ(status, 200) << other;
        }
    }
    EXPECT_EQ(lockedAt, 11) << "guesses that went through: " << guesses;

    // The lock-out is counted as such in the metrics.
    client::HttpsClient http(clientOptions().transport);
    const std::string scrape = http.request("GET", "/metrics", "", {}).body;
    const std::string series = R"m(krpalvelin_sessions_refused_total{reason="locked_out"} )m";
    const auto at = scrape.find(series);
    ASSERT_NE(at, std::string::npos) << scrape;
    EXPECT_GE(std::atoi(scrape.c_str() + at + series.size()), 1);
}

TEST_F(EndpointHostileClientTest, OneAddressOpensOnlyItsShareOfTheSessions)
{
    replaceContainer([](ServerContainerOptions& o) { o.maxSessionsPerAddress = 3; });
    const auto open = [&](const std::string& from) { return openFrom(from, appCredentials(), kSalasana); };
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        const std::string answer = open("127.0.0.2");
        ASSERT_EQ(statusOf(answer), 200) << answer;
        const auto start = answer.find("\"session\":\"") + 11;
        ids.push_back(answer.substr(start, answer.find('"', start) - start));
    }
    const std::string refused = open("127.0.0.2");
    EXPECT_EQ(statusOf(refused), 503) << refused;
    EXPECT_FALSE(headerOf(refused, "Retry-After").empty());
    EXPECT_EQ(statusOf(open("127.0.0.3")), 200);
    // A closed session gives its place back.
    EXPECT_EQ(statusOf(send("127.0.0.2", "DELETE", "/api/v1/session", "Bearer " + ids.front(), "")), 204);
    EXPECT_EQ(statusOf(open("127.0.0.2")), 200);
}

TEST_F(EndpointHostileClientTest, AStrangerHoldsNoBodyMemoryAndOneAddressOnlyItsShare)
{
    const std::string bigHead = "Content-Length: 16777216\r\n\r\n";
    const auto head = [&](const std::string& target, const std::string& authorization) {
        return "POST " + target + " HTTP/1.1\r\nHost: x\r\nAuthorization: " + authorization + "\r\n" + bigHead;
    };
    // Sixteen heads from one address on a path that is not the protocol's, each announcing
    // 16 MiB and sending none of it: refused at once, holding nothing.
    std::vector<std::unique_ptr<RawTlsClient>> held;
    for (int i = 0; i < 16; ++i) {
        held.push_back(
            std::make_unique<RawTlsClient>(container->listeningPort(), std::function<void(SSL_CTX*)>{}, "127.0.0.2"));
        ASSERT_TRUE(held.back()->handshake());
        ASSERT_TRUE(held.back()->send(head("/nope", "")));
        EXPECT_EQ(statusOf(held.back()->readHead(10s)), 404) << i;
    }
    held.clear();
    // With the application credentials (which every client carries), one address holds at
    // most its share: a quarter of the 256 MiB, what one body of 16 MiB costs while it is
    // parsed. The rest of its heads are refused at once.
    int refused = 0;
    for (int i = 0; i < 16; ++i) {
        held.push_back(
            std::make_unique<RawTlsClient>(container->listeningPort(), std::function<void(SSL_CTX*)>{}, "127.0.0.2"));
        ASSERT_TRUE(held.back()->handshake());
        ASSERT_TRUE(held.back()->send(head("/api/v1/session", appCredentials())));
    }
    for (auto& raw : held)
        refused += statusOf(raw->readHead(1500ms)) == 503 ? 1 : 0;
    EXPECT_EQ(refused, 15);
    // Another address opens its session and calls, while those connections still hold theirs.
    auto client = openClient();
    ASSERT_TRUE(client);
    EXPECT_NO_THROW(client->call("KaikuTeksti", "[\"x\"]"));
    EXPECT_GE(waitForLog(QStringLiteral("Pyyntö torjuttu osoitteesta 127.0.0.2 (503): osoitteen pyyntöjen rungot "
                                        "täyttävät jo sen osuuden muistista.")),
              0);
    EXPECT_EQ(countLog(QStringLiteral("Pyyntö torjuttu osoitteesta 127.0.0.2 (503): osoitteen pyyntöjen rungot "
                                      "täyttävät jo sen osuuden muistista.")),
              1)
        << "at most once a minute";
}

TEST_F(EndpointHostileClientTest, MethodArgumentsCannotForgeLogLines)
{
    auto client = openClient();
    const std::string forged = R"("x\n10 Dec 2026 23:59:59: FORGED\u202e")";
    const std::string calls[][2] = {
        {"MonivaiheinenTuotehaku", "[0, " + forged + "]"},
        {"Tyovaihehaku", "[" + forged + ", " + forged + "]"},
        {"Tyomaarayshaku", "[" + forged + ", 0, false]"},
        {"MonivaiheinenTuotehaku", "[0, \"" + std::string(10'000, 'A') + "\"]"},
    };
    client::HttpsClient http(clientOptions().transport);
    for (const auto& [method, arguments] : calls) {
        const auto r = http.request("POST", "/api/v1/methods/" + method, arguments,
                                    {{"Authorization", "Bearer " + client->sessionId()}});
        EXPECT_EQ(r.status, 200) << method << ": " << r.body.substr(0, 200);
    }
    const QString cut = QStringLiteral("hakukoodi=") + QString(200, QChar('A')) + QChar(0x2026);
    EXPECT_TRUE(pumpUntil([&] {
        for (const QString& line : logLines())
            if (line.endsWith(cut))
                return true;
        return false;
    }));
    int escaped = 0;
    for (const QString& line : logLines()) {
        EXPECT_FALSE(line.contains(QChar('\n'))) << line.toStdString();
        EXPECT_FALSE(line.contains(QChar(0x202E))) << line.toStdString();
        EXPECT_LT(line.size(), 1000) << line.left(100).toStdString();
        if (line.contains(QStringLiteral("x\\n10 Dec 2026 23:59:59: FORGED\\u202e")))
            ++escaped;
    }
    EXPECT_GE(escaped, 3);
}

}  // namespace
}  // namespace krp::test
