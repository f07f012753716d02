// Every published method of TServerMethods1 called over real TLS through the client library,
// against the demo ERP database on SQLite and on MariaDB: the answers in their JSON form, the
// rows a method leaves for its provider, the staging rows the terminals hand in, and raised
// and returned failures as the client and the event log see them.
#include "DemoEndpointFixture.h"

#include "log/DateTimeText.h"
#include "types/DateTimeValue.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

rapidjson::Document parsed(const std::string& json)
{
    rapidjson::Document d;
    d.Parse<rapidjson::kParseFullPrecisionFlag>(json.data(), json.size());
    return d;
}

bool sameJson(const std::string& a, const std::string& b)
{
    const rapidjson::Document da = parsed(a), db = parsed(b);
    return !da.HasParseError() && !db.HasParseError() && da == db;
}

std::string jsonText(const rapidjson::Value& v)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    v.Accept(writer);
    return buffer.GetString();
}

// One row as JSON text, every number written as a double (an integer column may come back
// as 3 or 3.0 depending on the database).
std::string rowText(const std::vector<const rapidjson::Value*>& cells)
{
    std::string text = "[";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const rapidjson::Value& v = *cells[i];
        text += i ? "," : "";
        if (v.IsNumber()) {
            std::ostringstream n;
            n.precision(17);
            n << v.GetDouble();
            text += n.str();
        } else {
            text += jsonText(v);
        }
    }
    return text + "]";
}

std::string joinedRows(std::vector<std::string> rows, bool ordered)
{
    if (!ordered)
        std::sort(rows.begin(), rows.end());
    std::string text = "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        text += (i ? "," : "") + rows[i];
    return text + "]";
}

// The named columns ("A,B,C") of a table object's rows; sorted unless their order matters.
std::string pickRows(const rapidjson::Value& table, const std::string& columns, bool ordered)
{
    if (!table.IsObject() || !table.HasMember("columns") || !table.HasMember("rows"))
        return "not a table: " + jsonText(table);
    std::vector<rapidjson::SizeType> indexes;
    std::istringstream names(columns);
    for (std::string name; std::getline(names, name, ',');) {
        const auto& cols = table["columns"].GetArray();
        const auto it = std::find_if(cols.begin(), cols.end(),
                                     [&](const rapidjson::Value& c) { return name == c["name"].GetString(); });
        if (it == cols.end())
            return "no column " + name + " in " + jsonText(table["columns"]);
        indexes.push_back(static_cast<rapidjson::SizeType>(it - cols.begin()));
    }
    std::vector<std::string> rows;
    for (const auto& row : table["rows"].GetArray()) {
        std::vector<const rapidjson::Value*> cells;
        for (const auto i : indexes)
            cells.push_back(&row[i]);
        rows.push_back(rowText(cells));
    }
    return joinedRows(rows, ordered);
}

// Expected rows written as a JSON array of arrays, in the form pickRows gives.
std::string expectedRows(const std::string& json, bool ordered)
{
    const rapidjson::Document d = parsed(json);
    if (d.HasParseError() || !d.IsArray())
        return "bad expectation: " + json;
    std::vector<std::string> rows;
    for (const auto& row : d.GetArray()) {
        std::vector<const rapidjson::Value*> cells;
        for (const auto& cell : row.GetArray())
            cells.push_back(&cell);
        rows.push_back(rowText(cells));
    }
    return joinedRows(rows, ordered);
}

std::vector<std::string> columnNames(const rapidjson::Value& table)
{
    std::vector<std::string> names;
    for (const auto& c : table["columns"].GetArray())
        names.emplace_back(c["name"].GetString());
    return names;
}

// The TDateTime of a local date and time, as the records carry it.
double days(int y, int m, int d, int h = 0, int min = 0)
{
    return types::toTDateTime(QDateTime(QDate(y, m, d), QTime(h, min)));
}

// A double as the records carry it: at most 15 significant digits.
std::string number(double value)
{
    std::ostringstream n;
    n.precision(15);
    n << value;
    return n.str();
}

// A TTyoaikakirjaus in its JSON form; `id` is 1 for a record alone, 2 and on in a list.
std::string kirjausJson(int nro, int tyomaaraysnro, double alku, double loppu, const std::string& tyokoodi,
                        const std::string& tyonimike, const std::string& tekija, const std::string& lisatieto,
                        int id = 1)
{
    return R"({"type":"UTyypit.TTyoaikakirjaus","id":)" + std::to_string(id) + R"(,"fields":{"tyokirjausnro":)" +
           std::to_string(nro) + R"(,"tyomaaraysnro":)" + std::to_string(tyomaaraysnro) + R"(,"aloitusaika":)" +
           number(alku) + R"(,"lopetusaika":)" + number(loppu) + R"(,"tyokoodi":")" + tyokoodi + R"(","tyonimike":")" +
           tyonimike + R"(","tekija":")" + tekija + R"(","lisatieto":")" + lisatieto + R"("}})";
}

class MethodsEndToEndTest : public DemoEndpointTest {
protected:
    // A session through both gates as a demo user, who is then recorded as the session user.
    std::unique_ptr<KrpClient> openAs(const std::string& user, const std::string& password)
    {
        auto client = std::make_unique<KrpClient>(clientOptions());
        client->openSession(demoClient(user, password));
        EXPECT_EQ(client->call("TarkistaKayttooikeus", R"(["", ")" + user + R"(", ")" + password + R"("])").text,
                  R"({"result":true})");
        return client;
    }

    QString text(const QString& sql) { return demo().text(sql); }
    std::int64_t integer(const QString& sql) { return demo().integer(sql); }
    double real(const QString& sql) { return demo().text(sql).toDouble(); }

    // Pumps events until a log line at or after `from` contains `fragment`.
    bool waitForLogContaining(const QString& fragment, int from)
    {
        return pumpUntil([&] {
            const QStringList lines = logLines();
            return std::any_of(lines.begin() + from, lines.end(),
                               [&](const QString& line) { return line.contains(fragment); });
        });
    }
};

TEST_P(MethodsEndToEndTest, WarehouseLookupsAnswerAndLeaveTheirRowsForTheProvider)
{
    // The products are counted at known moments: the warning limit of the demo is 7 days.
    const QDateTime today = QDateTime(QDate::currentDate(), QTime(8, 30));
    demo().execute(QStringLiteral("UPDATE TUOTVAIH SET TV_INVEPVM='%1' WHERE TV_TUOTEKOODI='OS-3003'")
                       .arg(today.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    demo().execute(QStringLiteral("UPDATE TUOTVAIH SET TV_INVEPVM='%1' WHERE TV_TUOTEKOODI='JL-2002'")
                       .arg(today.addDays(-8).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    const std::string varoitus = "Tuote OS-3003 on jo inventoitu " + dateTimeText(today).toStdString() + ".";

    auto client = openAs("VARASTO", "Hylly42");
    struct Case {
        const char* method;
        const char* arguments;
        std::string answer;
        const char* provider = nullptr;  // then the rows it serves
        const char* columns = nullptr;
        const char* rows = nullptr;
        bool ordered = false;
    };
    const Case cases[] = {
        {"MonivaiheinenTuotehaku", R"([0, "6417000100014"])", R"({"result":""})", "dspTuotelista",
         "TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TV_VARASTOSSA",
         R"([["JP-1001",101,"Jarrupalasarja etu VW Golf VII","JARRU",3]])"},
        // Found as a type code; only products with open purchase-order lines.
        {"MonivaiheinenTuotehaku", R"([0, " suodatin "])", R"({"result":""})", "dspTuotelista",
         "TP_TUOTEKOODI,TV_VARASTOSSA", R"([["OS-3003",11],["IS-3004",2]])"},
        // The battery's only order line is cancelled: not in the goods-receipt search ...
        {"MonivaiheinenTuotehaku", R"([0, "AKKU-74"])", R"({"result":""})", "dspTuotelista", "TP_TUOTEKOODI", "[]"},
        // ... but the normal search finds it, and a product without a stock row too.
        {"MonivaiheinenTuotehakuNormaali", R"([0, "akku-74"])", R"({"result":""})", "dspTuotelista",
         "TP_TUOTEKOODI,TP_TOIMITTAJANRO,TV_VARASTOSSA", R"([["AKKU-74",104,1]])"},
        {"MonivaiheinenTuotehakuNormaali", R"([103, "LASINPESU"])", R"({"result":""})", "dspTuotelista",
         "TP_TUOTEKOODI,TP_NIMI,TV_VARASTOSSA", R"([["LASINPESU","Lasinpesuneste -20 °C 4 l",null]])"},
        {"Tuotetiedot", R"([" jp-1001", 101, "TP_NIMI,TTP_NIMI,TV_VARASTOSSA,TP_HYLLYPAIKKA"])", R"({"result":""})",
         "dspTuotetiedot", "TP_NIMI,TTP_NIMI,TV_VARASTOSSA,TP_HYLLYPAIKKA",
         R"([["Jarrupalasarja etu VW Golf VII","Jarruosat",3,"A-12"]])"},
        {"TuotetyypinTuotteet", R"([" öljy"])", R"({"result":""})", "dspTuotetyypinTuotteet",
         "TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_EANKOODI,TV_VARASTOSSA",
         R"([["5W30-5L",103,"6417000100052",7.5],["5W30-5L",101,"6417000100069",null]])"},
        // 10 ordered, 4 delivered and 3 already in the receipt queue.
        {"TuotteenOstotilausrivit", R"(["JP-1001", 101])", R"({"result":""})", "dspTuotteenOTrivit",
         "AVOINNA,OTR_NRO,OTR_RIVINRO,OTR_TILATTUMAARA,TP_EANKOODI,TP_TYYPPIKOODI,TP_HYLLYPAIKKA",
         R"([[3,5001,1,10,"6417000100014","JARRU","A-12"]])"},
        {"TuotettaVarastoonkirjausjonossa", R"(["JP-1001", 101, 5001, 0])", R"({"result":"","out":{"maara":3}})"},
        // The product code goes to the queue query as it was sent.
        {"TuotettaVarastoonkirjausjonossa", R"(["jp-1001", 101, 5001, 42])", R"({"result":"","out":{"maara":0}})"},
        {"HaeToimittajanimi", "[103]", R"({"result":"Öljy-Jussi Oy"})"},
        {"HaeToimittajanimi", "[999]", R"({"result":""})"},
        {"InventointiIlmoitus", R"(["OS-3003", 102])", R"({"result":")" + varoitus + R"("})"},
        {"InventointiIlmoitus", R"(["JL-2002", 101])", R"({"result":""})"},
        {"InventointiIlmoitus", R"(["LASINPESU", 103])", R"({"result":""})"},
        {"Asiakashaku", R"(["VIRTA%"])", R"({"result":""})", "dspAsiakkaat", "AP_ASIAKASNRO,AP_NIMI,AP_GSM",
         R"([[1000,"Virtanen Matti","040 123 4567"],[1004,"Virtala Kari","040 555 0101"]])"},
        {"Tyovaihehaku", R"(["", "jarru"])", R"({"result":null})", "dspTyovaihehaku", "TYS_KOODI,TYS_NIMI",
         R"([["JARRU-E","Etujarrujen huolto"],["JARRU-T","Takajarrujen huolto"]])"},
        {"Tyovaihehaku", R"(["öljy", ""])", R"({"result":null})", "dspTyovaihehaku", "TYS_KOODI,TYS_AIKA",
         R"([["ÖLJY",1]])"},
        {"HaeSisainenSelvitys", "[10001]", R"({"result":"Levyt vielä hyvät"})"},
        {"HaeSisainenSelvitys", "[99999]", R"({"result":""})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.arguments);
        const auto answer = client->call(c.method, c.arguments);
        EXPECT_TRUE(sameJson(answer.text, c.answer)) << answer.text;
        if (c.provider) {
            const auto table = client->provider(c.provider);
            EXPECT_EQ(pickRows(table.document, c.columns, c.ordered), expectedRows(c.rows, c.ordered));
        }
    }

    // The column list of Tuotetiedot is the whole select list.
    EXPECT_EQ(columnNames(client->provider("dspTuotetiedot").document),
              (std::vector<std::string>{"TP_NIMI", "TTP_NIMI", "TV_VARASTOSSA", "TP_HYLLYPAIKKA"}));
    client->closeSession();
}

TEST_P(MethodsEndToEndTest, TerminalRecordsLandInTheStagingTables)
{
    auto client = openAs("VARASTO", "Hylly42");
    const std::string tulorivit =
        R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
        R"("FOwnsObjects":true,"FListHelper":[2],"FItems":[)"
        R"({"type":"UTyypit.TVarastoontulorivi","id":2,"fields":{"id":"PDA7-0001","ostotilausnro":5001,)"
        R"("tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001","saapuvamaara":2,"kerattymaara":2,"keruupaateid":"pda-7"}},)"
        R"({"type":"UTyypit.TVarastoontulorivi","id":3,"fields":{"id":"PDA7-0002","ostotilausnro":5002,)"
        R"("tilausrivinro":1,"toimittajanro":102,"tuotekoodi":"OS-3003","saapuvamaara":12,"kerattymaara":11.5,"keruupaateid":"pda-7"}}]}}])";
    const std::string kerailyrivit =
        R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{)"
        R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[)"
        R"({"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":"PDA7-K1","toimittajanro":103,"tuotekoodi":"5W30-5L",)"
        R"("maara":2,"keruupaateid":"pda-7","asiakasnro":1002}}]}}])";
    const std::string inventointirivi =
        R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":"PDA7-I1","toimittajanro":102,)"
        R"("tuotekoodi":"RE-205","vanha_varastosaldo":12,"uusi_varastosaldo":11.5,"keruupaateid":"pda-7"}}])";
    const std::string tuotemuutosrivi =
        R"([{"type":"UTyypit.TTuotemuutosrivi","id":1,"fields":{"id":"PDA7-M1","toimittajanro":101,)"
        R"("tuotekoodi":"PYYHK-55","nimi":"  Pyyhkijänsulka 550 mm, aero ","eankoodi":" 6417000100106 ",)"
        R"("hyllypaikka":" f-01ä ","halytysraja":-9999,"optimivarasto":25}}])";
    struct Case {
        const char* method;
        std::string arguments;
    };
    const Case cases[] = {
        {"LisaaVarastoontulorivit", tulorivit},
        {"LisaaKerailyrivit", kerailyrivit},
        {"LisaaInventointirivi", inventointirivi},
        {"LisaaTuotemuutosrivi", tuotemuutosrivi},
        {"LisaaTarratulostus", R"([" jp-1001 ", 101, 2])"},
        {"LisaaHintalappuTulostus", R"(["OS-3003", 102, 6])"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(client->call(c.method, c.arguments).text, R"({"result":""})") << c.method;

    struct Row {
        const char* sql;
        const char* expected;
    };
    const Row rows[] = {
        {"SELECT KEO_OSTOTILAUSNRO || '/' || KEO_TILAUSRIVINRO || '/' || KEO_TOIMITTAJANRO || '/' || KEO_TUOTEKOODI "
         "|| '/' || KEO_KERATTYMAARA || '/' || KEO_KERUUPAATEID || '/' || KEO_TILA || '/' || "
         "COALESCE(KEO_JATKOKASITELTY, 'null') FROM KERUUOSTOTILAUS WHERE KEO_ID='PDA7-0002'",
         "5002/1/102/OS-3003/11.5/pda-7/KESKEN/null"},
        {"SELECT KTU_TOIMITTAJANRO || '/' || KTU_TUOTEKOODI || '/' || KTU_MAARA || '/' || KTU_ASIAKASNRO || '/' || "
         "KTU_KERUUPAATEID || '/' || (KTU_KASITELTY IS NOT NULL) FROM KERUUTUOTTEET WHERE KTU_ID='PDA7-K1'",
         "103/5W30-5L/2/1002/pda-7/1"},
        {"SELECT KEI_TUOTEKOODI || '/' || KEI_VANHAMAARA || '/' || KEI_UUSIMAARA || '/' || KEI_KERUUPAATEID || '/' || "
         "(KEI_LUOTU IS NOT NULL) FROM KERUUINVENTOINTI WHERE KEI_ID='PDA7-I1'",
         "RE-205/12/11.5/pda-7/1"},
        {"SELECT KTM_TUOTEKOODI || '/' || KTM_UUSINIMI || '/' || KTM_UUSI_EAN || '/' || KTM_UUSIHYLLY || '/' || "
         "COALESCE(KTM_UUSIHALY, 'null') || '/' || KTM_UUSIOPTIMI FROM KERUUTUOTEMUUTOS WHERE KTM_ID='PDA7-M1'",
         "PYYHK-55/Pyyhkijänsulka 550 mm, aero/6417000100106/F-01Ä/null/25"},
        {"SELECT KET_TUOTEKOODI || '/' || KET_MAARA || '/' || KET_TYYPPI FROM KERUUTARRA WHERE KET_TOIMITTAJANRO=101 "
         "AND KET_TULOSTETTU IS NULL",
         "JP-1001/2/1"},
        {"SELECT KET_TUOTEKOODI || '/' || KET_MAARA || '/' || KET_TYYPPI FROM KERUUTARRA WHERE KET_TOIMITTAJANRO=102",
         "OS-3003/6/0"},
    };
    for (const Row& r : rows) {
        QString actual = text(QString::fromUtf8(r.sql));
        actual.replace(QStringLiteral(".0/"), QStringLiteral("/"));  // MariaDB writes doubles with ".0"
        if (actual.endsWith(QStringLiteral(".0")))
            actual.chop(2);
        EXPECT_EQ(actual.toStdString(), r.expected) << r.sql;
    }

    // The queued receipt reduces the purchase-order line that is still open.
    EXPECT_EQ(client->call("TuotettaVarastoonkirjausjonossa", R"(["JP-1001", 101, 5001, 0])").text,
              R"({"result":"","out":{"maara":5}})");
    EXPECT_EQ(client->call("TuotteenOstotilausrivit", R"(["JP-1001", 101])").text, R"({"result":""})");
    EXPECT_EQ(pickRows(client->provider("dspTuotteenOTrivit").document, "AVOINNA,OTR_NRO", false),
              expectedRows("[[1,5001]]", false));
    // Of twelve ordered filters 11.5 wait in the queue: half a filter is still open.
    EXPECT_EQ(client->call("TuotteenOstotilausrivit", R"(["os-3003", 102])").text, R"({"result":""})");
    EXPECT_EQ(pickRows(client->provider("dspTuotteenOTrivit").document, "AVOINNA", false),
              expectedRows("[[0.5]]", false));
    EXPECT_EQ(client->call("TuotettaVarastoonkirjausjonossa", R"(["OS-3003", 102, 5002, 0])").text,
              R"({"result":"","out":{"maara":12}})");  // 11.5 to the even whole number
    client->closeSession();
}

TEST_P(MethodsEndToEndTest, AMechanicsDayOnAWorkOrder)
{
    auto client = openAs("PEKKA", "Jarru-2026");

    // The registration number typed without its dash is found on the second search; the
    // finished work order of the same car only when asked for.
    struct Search {
        const char* arguments;
        const char* rows;
    };
    for (const Search& s :
         {Search{R"(["abc123", 0, false])", R"([[10001,"AVOIN","Virtanen Matti","Volkswagen"]])"},
          Search{R"(["ABC-123", 0, true])",
                 R"([[10004,"VALMIS","Virtanen Matti","Volkswagen"],[10001,"AVOIN","Virtanen Matti","Volkswagen"]])"},
          Search{R"(["", 10008, false])", R"([[10008,"AVOIN","Kuljetusliike Öhman Oy","Scania"]])"},
          Search{R"(["", 10005, true])", "[]"}}) {
        SCOPED_TRACE(s.arguments);
        const auto answer = client->call("Tyomaarayshaku", s.arguments);
        const std::string columns = "TYO_NRO,TYO_TILA,AP_NIMI,AJN_MERKKI";
        EXPECT_EQ(pickRows(answer.result(), columns, true), expectedRows(s.rows, true));
        EXPECT_EQ(pickRows(client->provider("dspTyomaarayshaku").document, columns, true), expectedRows(s.rows, true));
    }
    // Every column of the work order comes with the joined names.
    const auto haku = client->call("Tyomaarayshaku", R"(["", 10001, false])");
    const auto sarakkeet = columnNames(haku.result());
    for (const char* name : {"TYO_NRO", "TYO_REKNRO", "TYO_YHTEENSA", "TYO_SELVITYS2", "AP_NIMI", "AP_ASIAKASNRO",
                             "AJN_MERKKI", "AJN_MALLI"})
        EXPECT_NE(std::find(sarakkeet.begin(), sarakkeet.end(), name), sarakkeet.end()) << name;

    EXPECT_TRUE(sameJson(
        client->call("HaeTyomaarayksenTyot", "[10002]").text,
        R"({"result":{"type":"System.Generics.Collections.TObjectList<UTyypit.TTyo>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[2],"FItems":[)"
        R"({"type":"UTyypit.TTyo","id":2,"fields":{"koodi":"HUOLTO","tehtava":"Määräaikaishuolto","rivinro":1}},)"
        R"({"type":"UTyypit.TTyo","id":3,"fields":{"koodi":"ILMASTO","tehtava":"Ilmastoinnin huolto","rivinro":2}}]}}})"));
    EXPECT_EQ(client->call("HaeTyomaarayksenTyot", "[10009]").text, R"({"result":null})");

    // PEKKA's open entry on 10002 and the ended one, read back as records.
    EXPECT_TRUE(sameJson(
        client->call("HaeAvoimetTyoaikakirjaukset", "[10002]").text,
        R"({"result":{"type":"System.Generics.Collections.TObjectList<UTyypit.TTyoaikakirjaus>","id":1,"fields":{)"
        R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[)" +
            kirjausJson(2, 10002, days(2026, 12, 9, 7, 50), 0, "", "", "PEKKA", "", 2) + "]}}}"))
        << client->call("HaeAvoimetTyoaikakirjaukset", "[10002]").text;
    EXPECT_TRUE(sameJson(client->call("HaeTyoaikakirjaus", "[1]").text,
                         R"({"result":)" +
                             kirjausJson(1, 10002, days(2026, 12, 8, 8), days(2026, 12, 8, 9, 30), "HUOLTO",
                                         "Määräaikaishuolto", "PEKKA", "Jarrunesteen vaihto tehty") +
                             "}"));
    EXPECT_EQ(client->call("HaeAvoimetTyoaikakirjaukset", "[10001]").text, R"({"result":null})");

    // Start work on 10001: a new entry, the next number, PEKKA's, without an end.
    const double ennen = types::toTDateTime(QDateTime::currentDateTime().addSecs(-1));
    const auto aloitus = client->call("KirjaaTyonAloitus", "[10001]");
    const double jalkeen = types::toTDateTime(QDateTime::currentDateTime().addSecs(1));
    const auto& alku = aloitus.result();
    ASSERT_TRUE(alku.IsObject()) << aloitus.text;
    EXPECT_STREQ(alku["type"].GetString(), "UTyypit.TTyoaikakirjaus");
    const auto& k = alku["fields"];
    EXPECT_EQ(k["tyokirjausnro"].GetInt(), 4);
    EXPECT_EQ(k["tyomaaraysnro"].GetInt(), 10001);
    EXPECT_EQ(k["tekija"].GetString(), std::string("PEKKA"));
    EXPECT_EQ(k["lopetusaika"].GetDouble(), 0);
    const double aloitusaika = k["aloitusaika"].GetDouble();
    EXPECT_GE(aloitusaika, ennen);
    EXPECT_LE(aloitusaika, jalkeen);
    EXPECT_EQ(types::fromTDateTime(aloitusaika).time().msec(), 0);

    // The phase: the time entry takes the work line, whose task is renamed.
    EXPECT_EQ(client
                  ->call("AsetaTyovaihe", R"([4, {"type":"UTyypit.TTyo","id":1,"fields":{"koodi":"JARRU-E",)"
                                          R"("tehtava":"Etujarrujen huolto, levyt mitattu","rivinro":1}}])")
                  .text,
              R"({"result":true})");
    EXPECT_EQ(client->call("AsetaTyovaiheenLisatieto", R"([4, "Levyt 24,1 mm, raja 22 mm"])").text,
              R"({"result":true})");
    EXPECT_EQ(text(QStringLiteral("SELECT MTR_TEHTAVA FROM MAARTYO WHERE MTR_NRO=10001 AND MTR_RIVINRO=1")),
              QStringLiteral("Etujarrujen huolto, levyt mitattu"));
    EXPECT_EQ(integer(QStringLiteral("SELECT TYA_VAIHENRO FROM TYOAIKA WHERE TYA_NRO=4")), 1);
    EXPECT_TRUE(sameJson(client->call("HaeTyoaikakirjaus", "[4]").text,
                         R"({"result":)" +
                             kirjausJson(4, 10001, aloitusaika, 0, "JARRU-E", "Etujarrujen huolto, levyt mitattu",
                                         "PEKKA", "Levyt 24,1 mm, raja 22 mm") +
                             "}"));
    // A null phase clears it.
    EXPECT_EQ(client->call("AsetaTyovaihe", "[4, null]").text, R"({"result":true})");
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_TYOKOODI || '/' || TYA_VAIHENRO FROM TYOAIKA WHERE TYA_NRO=4")),
              QStringLiteral("/0"));

    // A work line on 10008 for no particular customer goes to the insurer in slot 2 (work
    // discount 20 %): 1.5 h at 80.00 is 120.00, charged 96.00.
    const std::string tyorivi =
        R"([10008, {"type":"UTyypit.TTyorivi","id":1,"fields":{"suorittaja":"PEKKA","asiakasnro":0,)"
        R"("tyokoodi":"KORI","ajoneuvokoodi":"SCANIA","tyoluokka":"B","tehtava":"Takavalojen vaihto",)"
        R"("laskutettuaika":1.5,"suoritettuaika":1.5,"tuntiveloitus":80,"alepros":50,"kpl":1,"ostohinta":30,)"
        R"("verokanta":24,"jro":3000,"viite":"2026-4471","rivityyppi":"T"}}])";
    EXPECT_EQ(client->call("LisaaTyovaiheTyomaaraykselle", tyorivi).text, R"({"result":3})");
    EXPECT_EQ(text(QStringLiteral("SELECT MTR_ASIAKASNRO || '/' || JNRO || '/' || MTR_TEHTAVA || '/' || MTR_VIITE "
                                  "FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_RIVINRO=3")),
              QStringLiteral("1006/3000/Takavalojen vaihto/2026-4471"));
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT MTR_ALEPROS FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_RIVINRO=3")), 20);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT MTR_RIVISUMMA FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_RIVINRO=3")),
                     96);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT MTR_KATE FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_RIVINRO=3")), 75);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT TYO_YHTEENSA FROM MAARPER WHERE TYO_NRO=10008")), 736);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT TYO_YHTEENSA_TYO2 FROM MAARPER WHERE TYO_NRO=10008")), 576);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("SELECT TYO_YHTEENSA_TYO1 FROM MAARPER WHERE TYO_NRO=10008")), 160);
    EXPECT_GE(waitForLog(QStringLiteral("LisaaTyovaiheTyomaaraykselle: Rivi asiakkaalle (1/2/3): 2")), 0);
    EXPECT_GE(waitForLog(QStringLiteral("LisaaTyovaiheTyomaaraykselle: Työmääräyksen loppusummaa kasvatettu ") +
                         twoDecimalsText(96)),
              0);

    // End work: the entry gets its end, whole seconds, and is no longer open.
    const auto lopetus = client->call("KirjaaTyonLopetus", "[4]");
    ASSERT_TRUE(lopetus.result().IsObject()) << lopetus.text;
    const double lopetusaika = lopetus.result()["fields"]["lopetusaika"].GetDouble();
    EXPECT_GE(lopetusaika, aloitusaika);
    EXPECT_EQ(types::fromTDateTime(lopetusaika).time().msec(), 0);
    EXPECT_EQ(lopetus.result()["fields"]["tekija"].GetString(), std::string("PEKKA"));
    EXPECT_EQ(client->call("HaeAvoimetTyoaikakirjaukset", "[10001]").text, R"({"result":null})");

    // Done: the work order leaves the open list.
    EXPECT_EQ(client->call("KuittaaValmiiksi", "[10001]").text, R"({"result":true})");
    EXPECT_EQ(text(QStringLiteral("SELECT TYO_TILA FROM MAARPER WHERE TYO_NRO=10001")), QStringLiteral("TYÖT OK"));
    EXPECT_EQ(pickRows(client->call("Tyomaarayshaku", R"(["ABC-123", 0, false])").result(), "TYO_NRO", true), "[]");
    EXPECT_EQ(pickRows(client->call("Tyomaarayshaku", R"(["ABC-123", 0, true])").result(), "TYO_NRO,TYO_TILA", true),
              expectedRows(R"([[10004,"VALMIS"],[10001,"TYÖT OK"]])", true));
    client->closeSession();
}

TEST_P(MethodsEndToEndTest, FailuresReachTheClientAsTheirMethodsReportThem)
{
    auto client = openAs("PEKKA", "Jarru-2026");
    const int mark = logLines().size();

    // Raised: 500 with the method's message, and the server's error event logs it.
    struct Raised {
        const char* method;
        const char* arguments;
        const char* error;
    };
    for (const Raised& r :
         {Raised{"HaeTyoaikakirjaus", "[99]", "HaeTyoaikakirjaus: Työkirjausnumerolla 99 ei löyty työaikakirjausta."},
          Raised{"KirjaaTyonLopetus", "[99]",
                 "KirjaaTyonLopetus: Työaikakirjauksen hakeminen epäonnistui. Virhe: HaeTyoaikakirjaus: "
                 "Työkirjausnumerolla 99 ei löyty työaikakirjausta."},
          Raised{"KirjaaTyonLopetus", "[3]",
                 "KirjaaTyonLopetus: Työn on kirjannut aloitetuksi toinen käyttäjä ÅSA. Toisen käyttäjän töitä ei "
                 "voi kirjata lopetetuksi."}}) {
        SCOPED_TRACE(std::string(r.method) + " " + r.arguments);
        try {
            client->call(r.method, r.arguments);
            ADD_FAILURE() << "no error";
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), 500);
            EXPECT_EQ(e.error(), r.error);
        }
        EXPECT_GE(waitForLog(QStringLiteral("Server: Tapahtui virhe: ") + QString::fromUtf8(r.error), mark), 0);
    }
    // ÅSA's entry stays open.
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_LOPPUKLO FROM TYOAIKA WHERE TYA_NRO=3")).left(4), QStringLiteral("1899"));

    // Returned as text: the call succeeds with the failure text, which is also logged.
    struct Returned {
        const char* method;
        const char* arguments;
        const char* text;
        const char* tag;
    };
    for (const Returned& r : {Returned{"Tuotetiedot", R"(["JP-1001", 101, "EI_SARAKETTA"])",
                                       "Tuotetietojen haku epäonnistui. Syy: ", " Tuotetiedot: "},
                              Returned{"LisaaVarastoontulorivit", "[null]",
                                       "Varastoontulorivien lisäys epäonnistui. Syy: ", " LisaaVarastoontulorivit: "},
                              Returned{"LisaaInventointirivi", "[null]",
                                       "Inventointirivin lisäys epäonnistui. Syy: ", " LisaaInventointirivi: "}}) {
        SCOPED_TRACE(r.method);
        const auto answer = client->call(r.method, r.arguments);
        ASSERT_TRUE(answer.result().IsString()) << answer.text;
        const QString result = QString::fromUtf8(answer.result().GetString());
        EXPECT_TRUE(result.startsWith(QString::fromUtf8(r.text))) << answer.text;
        EXPECT_GT(result.size(), qsizetype(std::strlen(r.text))) << "no reason after Syy";
        EXPECT_TRUE(waitForLogContaining(QString::fromUtf8(r.tag) + result, mark));
    }
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUINVENTOINTI")), 0);

    // Logged: a call without its work line gives row number 0 and adds nothing.
    EXPECT_EQ(client->call("LisaaTyovaiheTyomaaraykselle", R"([10001, null])").text, R"({"result":0})");
    EXPECT_TRUE(waitForLogContaining(
        QStringLiteral(": LisaaTyovaiheTyomaaraykselle: Työvaihetta ei saatu lisättyä. Virhe: "), mark));
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM MAARTYO WHERE MTR_NRO=10001")), 1);
    client->closeSession();
}

TEST_P(MethodsEndToEndTest, TheTerminalReportsItselfToTheWindow)
{
    auto client = openAs("VARASTO", "Hylly42");
    EXPECT_EQ(client->call("Ping", R"(["Kairanet", "pda-7"])").text, R"({"result":null})");
    ASSERT_TRUE(pumpUntil([&] { return view.lines.size() == 1; }));
    EXPECT_TRUE(view.lines.front().contains(QStringLiteral("pda-7"))) << view.lines.front().toStdString();
    EXPECT_EQ(client->call("SovellusSuljetaan", R"(["Kairanet", "pda-7"])").text, R"({"result":null})");
    EXPECT_TRUE(pumpUntil([&] { return view.lines.isEmpty(); }));
    // A session user of any name: the call records it and answers true.
    EXPECT_EQ(client->call("TarkistaKayttooikeus", R"(["avain", "", ""])").text, R"({"result":true})");
    client->closeSession();
}

INSTANTIATE_TEST_SUITE_P(, MethodsEndToEndTest, ::testing::Values(Backend::Sqlite, Backend::MariaDb), backendName);

}  // namespace
}  // namespace krp::test
