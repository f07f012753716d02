// Hostile and careless clients at the endpoint: guessing is throttled per address, refusals
// come before the body, client texts cannot forge log lines, answers do not echo megabytes.
#include "EndpointFixture.h"
#include "RawTlsClient.h"

#include "types/UTyypit.h"

#include <QByteArray>

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
        const auto quoted = [](const QString& s) { return QString::fromStdString(transport::jsonQuoted(s.toStdString())); };
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
    const QString forged = QStringLiteral("Kaira\n01 Jan 2026 00:00:00: OnUserAuthenticate: FAKE") + QChar(0) +
                           QStringLiteral("x");
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
    const auto r = http.request("POST", "/api/v1/methods/" + name, "[]",
                                {{"Authorization", "Bearer " + client->sessionId()}});
    EXPECT_EQ(r.status, 404);
    EXPECT_LT(r.body.size(), 400u) << r.body.substr(0, 100);
    EXPECT_NE(r.body.find(std::string(200, 'M') + "\xE2\x80\xA6"), std::string::npos);
}

}  // namespace
}  // namespace krp::test
