// Opening and ending sessions over real TLS: both gates with their answers and log lines, the
// session's log lines, the connection view, and Stop.
#include "EndpointFixture.h"

#include "types/UTyypit.h"

#include <QByteArray>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

class EndpointSessionTest : public EndpointFixture {};

int statusOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const KrpError& e) {
        return e.status();
    }
    return 200;
}

std::string basic(const std::string& user, const std::string& password)
{
    return "Basic " + QByteArray::fromStdString(user + ":" + password).toBase64().toStdString();
}

TEST_F(EndpointSessionTest, WrongApplicationCredentialsAre401AndLogged)
{
    const std::string user = types::PALVELIMEN_KAYTTAJATUNNUS;
    const std::string password = types::PALVELIMEN_SALASANA;
    struct Case {
        const char* name;
        client::HeaderList headers;
    };
    const Case cases[] = {
        {"no Authorization", {}},
        {"wrong password", {{"Authorization", basic(user, password + "x")}}},
        {"user in other letter case",
         {{"Authorization", basic(QString::fromStdString(user).toLower().toStdString(), password)}}},
        {"empty credentials", {{"Authorization", basic("", "")}}},
        {"not base64", {{"Authorization", "Basic ***"}}},
        {"a session id instead", {{"Authorization", "Bearer 1234"}}},
    };
    client::HttpsClient http(clientOptions().transport);
    for (const Case& c : cases) {
        const int before = countLog(QStringLiteral("OnUserAuthenticate: Virheelliset kirjautumistiedot"));
        const auto r = http.request("POST", "/api/v1/session", client::connectPropertiesJson(validClient()), c.headers);
        EXPECT_EQ(r.status, 401) << c.name;
        EXPECT_EQ(r.header("WWW-Authenticate"), "Basic realm=\"KRPalvelin\"") << c.name;
        EXPECT_TRUE(pumpUntil([&] {
            return countLog(QStringLiteral("OnUserAuthenticate: Virheelliset kirjautumistiedot")) == before + 1;
        })) << c.name;
    }
    EXPECT_EQ(container->sessions().size(), 0u);
    EXPECT_EQ(findLog(QStringLiteral("OnUserAuthenticate: OK")), -1);

    // The client library reports the same as a typed error.
    auto options = clientOptions();
    options.password = "väärä";
    KrpClient client(options);
    try {
        client.openSession(validClient());
        FAIL() << "opened a session with a wrong password";
    } catch (const KrpError& e) {
        EXPECT_EQ(e.status(), 401);
        EXPECT_EQ(e.error(), "Virheelliset kirjautumistiedot");
    }
}

TEST_F(EndpointSessionTest, EachRefusalOfTheConnectEventIsA403WithItsMessage)
{
    const QString tooMany = QStringLiteral("aaaaa-Kz8#Lumi7Vrsto5Pd");  // 'a' five times
    struct Case {
        const char* name;
        std::optional<QString> storedCode;
        client::ConnectProperties client;
        std::string message;
        bool userCheckFails;
    };
    const client::ConnectProperties valid = validClient();
    auto with = [&](auto change) {
        client::ConnectProperties p = valid;
        change(p);
        return p;
    };
    const Case cases[] = {
        {"no code stored", std::nullopt, valid,
         "Mobiilisovellusten pääsykoodi on asettamatta normaalin ohjelman puolella.", false},
        {"empty code stored", QString(), valid,
         "Mobiilisovellusten pääsykoodi on asettamatta normaalin ohjelman puolella.", false},
        {"stored code of 19 characters", QStringLiteral("Kz8#Lumi7Varasto5Pd"),
         with([](auto& p) { p.token = "Kz8#Lumi7Varasto5Pd"; }),
         "Mobiilisovellusten pääsykoodi on liian lyhyt. Korjaa se normaalin ohjelman puolella.", false},
        {"a character five times", tooMany, with([&](auto& p) { p.token = tooMany.toStdString(); }),
         "Mobiilisovellusten pääsykoodi sisältää liikaa samoja merkkejä. Korjaa se normaalin ohjelman puolella.",
         false},
        {"wrong code", kPaasykoodi, with([](auto& p) { p.token = "Kz8#Lumi7Varasto5Pda?"; }), "Virheellinen pääsykoodi",
         false},
        {"code with a trailing blank", kPaasykoodi, with([](auto& p) { p.token += " "; }), "Virheellinen pääsykoodi",
         false},
        {"no token sent", kPaasykoodi, with([](auto& p) { p.token.clear(); }), "Virheellinen pääsykoodi", false},
        {"unknown user", kPaasykoodi, with([](auto& p) { p.userName = "MAIJA"; }),
         "Virheellinen ohjelman käyttäjätunnus tai salasana.", true},
        {"wrong password", kPaasykoodi, with([](auto& p) { p.password = "salainen1"; }),
         "Virheellinen ohjelman käyttäjätunnus tai salasana.", true},
    };
    for (const Case& c : cases) {
        setAccessCode(c.storedCode);
        const int mark = logLines().size();
        KrpClient client(clientOptions());
        try {
            client.openSession(c.client);
            ADD_FAILURE() << c.name << ": the session opened";
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), 403) << c.name;
            EXPECT_EQ(e.error(), c.message) << c.name;
        }
        // The refused client's session is closed again: its closed line follows.
        EXPECT_GE(waitForLog(QStringLiteral("Yhteys katkaistu: 127.0.0.1"), mark), 0) << c.name;
        EXPECT_GE(findLog(QStringLiteral("OnUserAuthenticate: OK"), mark), 0) << c.name;
        EXPECT_GE(findLog(QStringLiteral("Saatiin sovellukselta \"Kairanet\" yhteyspyyntö osoitteesta 127.0.0.1. "
                                         "Protokolla: https"),
                          mark),
                  0)
            << c.name;
        EXPECT_EQ(findLog(QStringLiteral("Kirjautuminen ohjelman tunnuksella EPÄONNISTUI."), mark) >= 0,
                  c.userCheckFails)
            << c.name;
        EXPECT_EQ(findLog(QStringLiteral("Kirjautuminen ohjelman tunnuksella onnistui."), mark), -1) << c.name;
        EXPECT_EQ(container->sessions().size(), 0u) << c.name;
    }
}

TEST_F(EndpointSessionTest, StoredCodeEdgesThatPass)
{
    struct Case {
        const char* name;
        QString code;
        client::ConnectProperties client;
    };
    client::ConnectProperties emptyPassword = validClient();
    emptyPassword.userName = "TYHJA";
    emptyPassword.password.clear();
    const QString twenty = QStringLiteral("Kz8#Lumi7Varasto5Pd!");         // exactly 20
    const QString fourAndFour = QStringLiteral("aaaaAAAA-Kz8#Lumi7Vrst");  // 4 + 4 of one letter
    const Case cases[] = {
        {"20 characters", twenty,
         [&] {
             auto p = validClient();
             p.token = twenty.toStdString();
             return p;
         }()},
        {"four lower and four upper case", fourAndFour,
         [&] {
             auto p = validClient();
             p.token = fourAndFour.toStdString();
             return p;
         }()},
        {"empty stored password, empty password sent", kPaasykoodi, emptyPassword},
    };
    for (const Case& c : cases) {
        setAccessCode(c.code);
        KrpClient client(clientOptions());
        EXPECT_NO_THROW(client.openSession(c.client)) << c.name;
        EXPECT_NO_THROW(client.closeSession()) << c.name;
    }
}

TEST_F(EndpointSessionTest, ValidClientWorksInItsSessionAndShowsInTheConnectionView)
{
    const int mark = logLines().size();
    auto client = openClient();
    EXPECT_GE(client->sessionId().size(), 22u) << "at least 128 random bits";

    const int ok = waitForLog(QStringLiteral("Kirjautuminen ohjelman tunnuksella onnistui."), mark);
    EXPECT_GE(ok, 0);
    // The created line waits until the connect event has stored the address.
    const int created = waitForLog(QStringLiteral("Yhteys muodostettu: 127.0.0.1"), mark);
    EXPECT_GT(created, ok);

    EXPECT_EQ(client->call("TarkistaKayttooikeus", R"(["avain", "MATTI", "Salainen1"])").text, R"({"result":true})");
    EXPECT_EQ(client->call("Ping", R"(["Kairanet", "pda-1"])").text, R"({"result":null})");
    ASSERT_TRUE(pumpUntil([&] { return view.lines.size() == 1; }));
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("pda-1     Kairanet     "))) << view.lines[0].toStdString();
    EXPECT_EQ(view.kairanetYhteyksia, 1);

    EXPECT_EQ(client->call("SovellusSuljetaan", R"(["Kairanet", "pda-1"])").text, R"({"result":null})");
    ASSERT_TRUE(pumpUntil([&] { return view.lines.isEmpty(); }));
    EXPECT_EQ(view.kairanetYhteyksia, 0);

    const int beforeClose = logLines().size();
    const std::string id = client->sessionId();
    client->closeSession();
    EXPECT_FALSE(client->hasSession());
    EXPECT_GE(waitForLog(QStringLiteral("Yhteys katkaistu: 127.0.0.1"), beforeClose), 0);

    // The id is dead now.
    client->useSession(id);
    EXPECT_EQ(statusOf([&] { client->call("Ping", R"(["Kairanet", "pda-1"])"); }), 401);
}

TEST_F(EndpointSessionTest, SessionIdsThatAreNotOpenAre401)
{
    auto client = openClient();
    const std::string id = client->sessionId();
    client->closeSession();

    client::HttpsClient http(clientOptions().transport);
    struct Case {
        const char* name;
        std::string method, target;
        client::HeaderList headers;
    };
    const Case cases[] = {
        {"no Authorization", "POST", "/api/v1/methods/Ping", {}},
        {"unknown id", "POST", "/api/v1/methods/Ping", {{"Authorization", "Bearer 0123456789abcdef"}}},
        {"closed session", "POST", "/api/v1/methods/Ping", {{"Authorization", "Bearer " + id}}},
        {"credentials instead of a session",
         "POST",
         "/api/v1/methods/Ping",
         {{"Authorization", basic(types::PALVELIMEN_KAYTTAJATUNNUS, types::PALVELIMEN_SALASANA)}}},
        {"provider of a closed session", "GET", "/api/v1/providers/dspTuotelista", {{"Authorization", "Bearer " + id}}},
        {"closing a closed session", "DELETE", "/api/v1/session", {{"Authorization", "Bearer " + id}}},
    };
    for (const Case& c : cases) {
        const auto r = http.request(c.method, c.target, c.method == "POST" ? R"(["Kairanet","x"])" : "", c.headers);
        EXPECT_EQ(r.status, 401) << c.name << ": " << r.body;
        EXPECT_NE(r.body.find("\"error\""), std::string::npos) << c.name;
    }
}

TEST_F(EndpointSessionTest, SessionBodyThatIsNotAnObjectOfTextsIs400)
{
    client::HttpsClient http(clientOptions().transport);
    const client::HeaderList auth = {
        {"Authorization", basic(types::PALVELIMEN_KAYTTAJATUNNUS, types::PALVELIMEN_SALASANA)}};
    for (const char* body : {"", "[]", "\"Kairanet\"", "{\"Application\": 1}", "{\"Token\": null}", "{"}) {
        const auto r = http.request("POST", "/api/v1/session", body, auth);
        EXPECT_EQ(r.status, 400) << body;
    }
    // Other members are ignored; absent properties read as empty.
    setAccessCode(kPaasykoodi);
    const auto r = http.request("POST", "/api/v1/session",
                                R"({"Token": "Kz8#Lumi7Varasto5Pda!", "ApplicationUserName": "MATTI",
                                    "ApplicationPassword": "Salainen1", "Muuta": "ohitetaan"})",
                                auth);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_GE(waitForLog(QStringLiteral("Saatiin sovellukselta \"\" yhteyspyyntö osoitteesta 127.0.0.1. "
                                        "Protokolla: https")),
              0);
    EXPECT_EQ(container->sessions().size(), 1u);
}

TEST_F(EndpointSessionTest, TwoKairanetClientsAndAnotherAreListedInOrder)
{
    auto a = openClient();
    auto b = openClient();
    a->call("Ping", R"(["Kairanet", "pda-1"])");
    b->call("Ping", R"(["Varasto", "pda-2"])");
    a->call("Ping", R"(["kairanet", "pda-3"])");  // listed, not counted
    b->call("Ping", R"(["Kairanet", "pda-4"])");
    a->call("Ping", R"(["Muu", "pda-1"])");  // known id: keeps "Kairanet"
    ASSERT_TRUE(pumpUntil([&] { return view.lines.size() == 4; }));
    pumpBriefly();
    ASSERT_EQ(view.lines.size(), 4);
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("pda-1     Kairanet     ")));
    EXPECT_TRUE(view.lines[1].startsWith(QStringLiteral("pda-2     Varasto     ")));
    EXPECT_TRUE(view.lines[2].startsWith(QStringLiteral("pda-3     kairanet     ")));
    EXPECT_TRUE(view.lines[3].startsWith(QStringLiteral("pda-4     Kairanet     ")));
    EXPECT_EQ(view.kairanetYhteyksia, 2);

    // Another application name still removes the listed id.
    b->call("SovellusSuljetaan", R"(["Muu", "pda-1"])");
    ASSERT_TRUE(pumpUntil([&] { return view.lines.size() == 3; }));
    EXPECT_EQ(view.kairanetYhteyksia, 1);
}

TEST_F(EndpointSessionTest, StopEndsEverySessionWithItsClosedLine)
{
    auto a = openClient();
    auto b = openClient();
    const int mark = logLines().size();

    container->stop();
    EXPECT_EQ(container->sessions().size(), 0u);
    ASSERT_TRUE(pumpUntil([&] {
        const QStringList lines = logLines().mid(mark);
        return lines.filter(QStringLiteral(": Yhteys katkaistu: 127.0.0.1")).size() == 2;
    }));

    // After a new start the old ids are unknown.
    container->start();
    for (auto* c : {a.get(), b.get()}) {
        client::KrpClient fresh(clientOptions());
        fresh.useSession(c->sessionId());
        EXPECT_EQ(statusOf([&] { fresh.call("Ping", R"(["Kairanet", "x"])"); }), 401);
    }
}

}  // namespace
}  // namespace krp::test
