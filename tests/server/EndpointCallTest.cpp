// Method calls and providers over real TLS: records and lists both ways, compression of
// answers, refusals of bad input (the server keeps serving), raised errors, and one call of a
// session at a time.
#include "EndpointFixture.h"

#include "RawTlsClient.h"

#include <rapidjson/document.h>

#include <thread>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

class EndpointCallTest : public EndpointFixture {};

bool sameJson(const std::string& a, const std::string& b)
{
    rapidjson::Document da, db;
    da.Parse(a.data(), a.size());
    db.Parse(b.data(), b.size());
    return !da.HasParseError() && !db.HasParseError() && da == db;
}

TEST_F(EndpointCallTest, RecordsAndListsComeBackAsTheyWereSent)
{
    auto client = openClient();
    struct Case {
        const char* name;
        const char* method;
        std::string argument;  // also the expected result
    };
    const std::string tyo =
        R"({"type":"UTyypit.TTyo","id":1,"fields":{"koodi":"ÖLJY-1","tehtava":"Öljynvaihto ja suodatin","rivinro":-7}})";
    const std::string kirjaus =
        R"({"type":"UTyypit.TTyoaikakirjaus","id":1,"fields":{"tyokirjausnro":2147483647,"tyomaaraysnro":-2147483648,)"
        R"("aloitusaika":45000.5,"lopetusaika":0,"tyokoodi":"","tyonimike":"åäö","tekija":"MATTI","lisatieto":"\"lainaus\"\n"}})";
    const std::string kolme =
        R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[3],"FItems":[)"
        R"({"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":"a","toimittajanro":1,"tuotekoodi":"T1","maara":2.5,"keruupaateid":"pda","asiakasnro":0}},)"
        R"({"type":"UTyypit.TKerailyrivi","id":3,"fields":{"id":"b","toimittajanro":2,"tuotekoodi":"T2","maara":0.1,"keruupaateid":"pda","asiakasnro":5}},)"
        R"({"type":"UTyypit.TKerailyrivi","id":4,"fields":{"id":"","toimittajanro":3,"tuotekoodi":"T3","maara":1e+20,"keruupaateid":"pda","asiakasnro":-1}}]}})";
    const std::string tyhja =
        R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[0],"FItems":[]}})";
    const Case cases[] = {
        {"record", "KaikuTyo", tyo},
        {"record with date-times and limits", "KaikuTyoaikakirjaus", kirjaus},
        {"list of three", "KaikuKerailyrivit", kolme},
        {"empty list", "KaikuKerailyrivit", tyhja},
        {"no list", "KaikuKerailyrivit", "null"},
    };
    for (const Case& c : cases) {
        const auto answer = client->call(c.method, "[" + c.argument + "]");
        EXPECT_TRUE(sameJson(answer.text, R"({"result":)" + c.argument + "}")) << c.name << ": " << answer.text;
    }

    // Spare slots after the count and members left out of "fields" are read as nothing and zero.
    const auto spare = client->call(
        "KaikuKerailyrivit",
        R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[1],"FItems":[{"type":"UTyypit.TKerailyrivi","id":2,"fields":{"tuotekoodi":"T9"}},null,null]}}])");
    EXPECT_TRUE(sameJson(
        spare.text,
        R"({"result":{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[1],"FItems":[{"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":"","toimittajanro":0,)"
        R"("tuotekoodi":"T9","maara":0,"keruupaateid":"","asiakasnro":0}}]}}})"))
        << spare.text;
}

TEST_F(EndpointCallTest, AnswersOver1024BytesAreCompressed)
{
    auto client = openClient();
    // {"result":"..."} is 13 bytes around the text.
    struct Case {
        std::size_t textLength;
        const char* expectedCoding;
    };
    for (const Case& c : {Case{100, ""}, Case{1011, ""}, Case{1012, "deflate"}, Case{50'000, "deflate"}}) {
        const std::string text(c.textLength, 'x');
        const auto answer = client->call("KaikuTeksti", "[\"" + text + "\"]");
        EXPECT_EQ(answer.result().GetString(), text);
        EXPECT_EQ(client->lastResponse().contentEncoding, c.expectedCoding) << c.textLength;
        EXPECT_EQ(client->lastResponse().bodyBytes, c.textLength + 13);
        if (*c.expectedCoding)
            EXPECT_LT(client->lastResponse().wireBytes, client->lastResponse().bodyBytes);
    }

    // A client that does not ask for compression gets none.
    auto options = clientOptions();
    options.transport.acceptEncoding.clear();
    KrpClient plain(options);
    plain.useSession(client->sessionId());
    plain.call("KaikuTeksti", "[\"" + std::string(5000, 'y') + "\"]");
    EXPECT_EQ(plain.lastResponse().contentEncoding, "");
    EXPECT_EQ(plain.lastResponse().wireBytes, 5013u);

    // A compressed request body is read as well.
    options = clientOptions();
    options.transport.requestCoding = transport::ContentCoding::Gzip;
    KrpClient packer(options);
    packer.useSession(client->sessionId());
    EXPECT_EQ(packer.call("KaikuTeksti", "[\"" + std::string(3000, 'z') + "\"]").result().GetStringLength(), 3000u);
}

TEST_F(EndpointCallTest, ProviderServesTheRowsTheSessionsLastCallLeft)
{
    auto client = openClient();
    auto other = openClient();

    // Before any method has set up the query: a table without columns and rows.
    EXPECT_EQ(client->provider("dspTuotelista").text, R"({"columns":[],"rows":[]})");
    EXPECT_EQ(client->lastResponse().contentEncoding, "");

    client->call("AvaaTuotelista", "[200]");
    other->call("AvaaTuotelista", "[2]");
    const auto big = client->provider("dspTuotelista");
    EXPECT_EQ(big.rows().Size(), 200u);
    EXPECT_EQ(client->lastResponse().contentEncoding, "deflate");
    EXPECT_TRUE(sameJson(std::string(big.text, 0, big.text.find(",\"rows\"")) + "}",
                         R"({"columns":[{"name":"NRO","type":"integer"},{"name":"NIMI","type":"text"},)"
                         R"({"name":"HINTA","type":"float"}]})"))
        << big.text.substr(0, 200);
    EXPECT_TRUE(
        sameJson(other->provider("dspTuotelista").text,
                 R"({"columns":[{"name":"NRO","type":"integer"},{"name":"NIMI","type":"text"},)"
                 R"({"name":"HINTA","type":"float"}],"rows":[[1,"Tuote nro 1 äö",1.25],[2,"Tuote nro 2 äö",2.5]]})"));
    EXPECT_EQ(other->lastResponse().contentEncoding, "");

    // The next call that uses the query replaces its rows.
    client->call("AvaaTuotelista", "[1]");
    EXPECT_EQ(client->provider("dspTuotelista").rows().Size(), 1u);

    for (const char* name : {"dspEiOle", "dsptuotelista", "sqlTuotelista", ""}) {
        try {
            client->provider(name);
            ADD_FAILURE() << name;
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), 404) << name;
        }
    }
}

TEST_F(EndpointCallTest, BadInputIsRefusedAndTheServerKeepsServing)
{
    auto client = openClient();
    const int mark = logLines().size();
    struct Case {
        const char* name;
        std::string method;
        std::string body;
        int status;
    };
    const std::string inventointi = R"({"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":"x"}})";
    const Case cases[] = {
        {"not JSON", "Ping", "{", 400},
        {"empty body", "Ping", "", 400},
        {"an object, not an array", "Ping", R"({"sovellus":"Kairanet"})", 400},
        {"too few arguments", "Ping", R"(["Kairanet"])", 400},
        {"too many arguments", "Ping", R"(["Kairanet","a","b"])", 400},
        {"number for a text", "Ping", R"(["Kairanet", 7])", 400},
        {"integer over 32 bits", "HaeToimittajanimi", "[2147483648]", 400},
        {"integer under 32 bits", "HaeToimittajanimi", "[-2147483649]", 400},
        {"fraction for an integer", "HaeToimittajanimi", "[1.5]", 400},
        {"text for an integer", "HaeToimittajanimi", R"(["12"])", 400},
        {"text for a Boolean", "Tyomaarayshaku", R"(["ABC-1", 1, "true"])", 400},
        {"record of an unknown type", "LisaaInventointirivi", R"([{"type":"UTyypit.TEiOle","id":1,"fields":{}}])", 400},
        {"record of another class", "LisaaInventointirivi", R"([{"type":"UTyypit.TTyo","id":1,"fields":{}}])", 400},
        {"record without type", "LisaaInventointirivi", R"([{"id":1,"fields":{}}])", 400},
        {"unknown field", "LisaaInventointirivi",
         R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"eiole":1}}])", 400},
        {"letters in an integer field", "LisaaInventointirivi",
         R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"toimittajanro":"12a"}}])", 400},
        {"list count beyond its items", "LisaaKerailyrivit",
         R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,)"
         R"("fields":{"FOwnsObjects":true,"FListHelper":[5],"FItems":[]}}])",
         400},
        {"deep nesting", "Ping", std::string(100'000, '[') + std::string(100'000, ']'), 400},
        {"broken UTF-8", "Ping", "[\"Kairanet\", \"\xC3\x28\"]", 400},
        {"unknown method", "EiOle", "[]", 404},
        {"method name in another case", "ping", R"(["Kairanet","x"])", 404},
        {"method name with a blank", "Ping x", R"(["Kairanet","x"])", 404},
        {"method name with a slash", "Ping/..", R"(["Kairanet","x"])", 404},
        {"record of another class for a test method", "KaikuTyo", "[" + inventointi + "]", 400},
    };
    for (const Case& c : cases) {
        try {
            client->call(c.method, c.body);
            ADD_FAILURE() << c.name << ": answered 200";
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), c.status) << c.name << ": " << e.error();
            EXPECT_FALSE(e.error().empty()) << c.name;
        }
        EXPECT_EQ(client->call("KaikuTeksti", R"(["vielä täällä"])").result().GetString(), std::string("vielä täällä"))
            << "after " << c.name;
    }
    pumpBriefly(100);
    EXPECT_EQ(findLog(QStringLiteral("Server: Tapahtui virhe: "), mark), -1) << "refused input is no error of a method";
    for (const QString& line : logLines().mid(mark))
        EXPECT_FALSE(line.contains(QStringLiteral("Tapahtui virhe"))) << line.toStdString();
}

TEST_F(EndpointCallTest, BodyOver16MiBIs413AndTheSessionGoesOn)
{
    auto client = openClient();
    RawTlsClient raw(container->listeningPort());
    ASSERT_TRUE(raw.handshake());
    ASSERT_TRUE(raw.send("POST /api/v1/methods/KaikuTeksti HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                         client->sessionId() + "\r\nContent-Type: application/json\r\nContent-Length: " +
                         std::to_string(16 * 1024 * 1024 + 1) + "\r\n\r\n[\""));
    EXPECT_EQ(statusOf(raw.readHead()), 413);
    EXPECT_EQ(client->call("KaikuTeksti", R"(["ok"])").text, R"({"result":"ok"})");
}

TEST_F(EndpointCallTest, MethodThatRaisesIs500AndLogged)
{
    auto client = openClient();
    const int mark = logLines().size();
    try {
        client->call("Virhe", R"(["Työmääräystä 17 ei löydy"])");
        FAIL() << "no error";
    } catch (const KrpError& e) {
        EXPECT_EQ(e.status(), 500);
        EXPECT_EQ(e.error(), "Työmääräystä 17 ei löydy");
    }
    EXPECT_GE(waitForLog(QStringLiteral("Server: Tapahtui virhe: Työmääräystä 17 ei löydy"), mark), 0);

    // A published method of the raised kind, on a database without its table.
    try {
        client->call("HaeTyoaikakirjaus", "[1]");
        FAIL() << "no error";
    } catch (const KrpError& e) {
        EXPECT_EQ(e.status(), 500);
        EXPECT_GE(waitForLog(QStringLiteral("Server: Tapahtui virhe: ") + QString::fromStdString(e.error()), mark), 0);
    }
    EXPECT_EQ(client->call("KaikuTeksti", R"(["ok"])").text, R"({"result":"ok"})");
}

TEST_F(EndpointCallTest, CallsOfOneSessionRunOneAfterTheOther)
{
    auto owner = openClient();
    const std::string id = owner->sessionId();
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            KrpClient c(clientOptions());
            c.useSession(id);
            for (int i = 0; i < 3; ++i) {
                try {
                    if (c.call("Vuoro", "[" + std::to_string(t * 10 + i) + "]").result().GetInt() != t * 10 + i)
                        ++failures;
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(overlap.most.load(), 1);
}

}  // namespace
}  // namespace krp::test
