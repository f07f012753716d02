// The statements of the application server, line for line as its methods build them, run
// unchanged on both databases against the demo data: the schema has every table and column
// they name and the dialect answers them alike.
#include "db/Query.h"
#include "support/TestDatabases.h"

#include <utility>

using namespace krp::db;
using krp::test::DatabaseTest;

namespace {

using Binds = std::vector<std::pair<const char*, Value>>;

class ErpStatementsTest : public DatabaseTest {
protected:
    void prepare(Query& q, const QStringList& lines, const Binds& binds)
    {
        q.setSql(lines);
        for (const auto& [name, value] : binds) {
            Param& p = q.param(QString::fromUtf8(name));
            p.value = value;
            p.bound = true;
        }
    }
    // Opens the statement and returns the first column of every row as text.
    QStringList open(Query& q, const QStringList& lines, const Binds& binds = {})
    {
        prepare(q, lines, binds);
        q.open();
        QStringList values;
        for (q.first(); !q.eof(); q.next())
            values << q.field(0).asText();
        q.first();
        return values;
    }
    QStringList open(const QStringList& lines, const Binds& binds = {})
    {
        Query q(db());
        return open(q, lines, binds);
    }
    long long execute(const QStringList& lines, const Binds& binds = {})
    {
        Query q(db());
        prepare(q, lines, binds);
        return q.execute();
    }
    static Value text(const char* s) { return QString::fromUtf8(s); }
    static Value integer(std::int64_t i) { return i; }
};

TEST_P(ErpStatementsTest, SettingsTables)
{
    const QStringList read{"SELECT ARVO FROM ASETUS WHERE ASETUS=:asetus"};
    EXPECT_EQ(open(read, {{"asetus", text("yrityksen nimi")}}), QStringList{"Mäkisen Auto ja Varaosa Oy"});
    EXPECT_EQ(open(read, {{"asetus", text("ei tällaista")}}), QStringList{});

    EXPECT_EQ(execute({"UPDATE ASETUS SET ARVO=:arvo", "WHERE ASETUS=:asetus"},
                      {{"arvo", text("\"ODOTTAA OSIA\",\"TILATTU\",\"TYÖT OK\"")}, {"asetus", text("tm lisätilat")}}),
              1);
    EXPECT_EQ(open(read, {{"asetus", text("tm lisätilat")}}),
              QStringList{QString::fromUtf8("\"ODOTTAA OSIA\",\"TILATTU\",\"TYÖT OK\"")});

    EXPECT_EQ(open({"SELECT TABLE_NAME FROM TABLES", "WHERE TABLE_NAME='ASETUKSET'"}), QStringList{"ASETUKSET"});
    EXPECT_EQ(open({"SELECT ARVO FROM ASETUKSET WHERE ASETUS=:asetus"}, {{"asetus", text("tm lisätilat")}}),
              QStringList{"\"ODOTTAA OSIA\""});
    EXPECT_EQ(execute({"UPDATE ASETUKSET SET ARVO=:arvo", "WHERE ASETUS=:asetus"},
                      {{"arvo", text("x")}, {"asetus", text("tm lisätilat")}}),
              1);
    EXPECT_EQ(open({"SELECT ARVO FROM ASETUS", "WHERE ASETUS='inv varoituksen aikaraja'"}), QStringList{"7"});
    EXPECT_EQ(open({"SELECT MP_SALASANA FROM MYYJAPER", "WHERE MP_KAYTTAJATUNNUS=:kt"}, {{"kt", text("ÅSA")}}),
              QStringList{"Sjö-2026"});
    EXPECT_EQ(open({"SELECT MP_SALASANA FROM MYYJAPER", "WHERE MP_KAYTTAJATUNNUS=:kt"}, {{"kt", text("åsa")}}),
              QStringList{});  // user names compare exactly
}

TEST_P(ErpStatementsTest, MultiPhaseProductSearch)
{
    auto phase = [](const char* where) {
        return QStringList{
            "SELECT DISTINCT TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER "
            "LEFT JOIN TUOTVAIH",
            "ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO",
            "JOIN OSTOTILRIV ON TP_TUOTEKOODI=OTR_TUOTEKOODI AND TP_TOIMITTAJANRO=OTR_TOIMITTAJANRO", where,
            "AND ((IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))>0)"};
    };
    const char* ean = "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_EANKOODI=:koodi";
    const char* code = "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TUOTEKOODI=:koodi";
    const char* type = "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TYYPPIKOODI=:koodi";

    Query q(db());
    EXPECT_EQ(open(q, phase(ean), {{"tn", integer(0)}, {"koodi", text("6417000100014")}}), QStringList{"JP-1001"});
    EXPECT_EQ(q.result().columns.size(), 5u);
    EXPECT_EQ(q.fieldByName("TV_VARASTOSSA").asFloat(), 3.0);
    EXPECT_EQ(open(phase(code), {{"tn", integer(101)}, {"koodi", text("JL-2002")}}), QStringList{});  // delivered
    EXPECT_EQ(open(phase(code), {{"tn", integer(103)}, {"koodi", text("5W30-5L")}}), QStringList{"5W30-5L"});
    EXPECT_EQ(open(phase(type), {{"tn", integer(0)}, {"koodi", text("SUODATIN")}}).size(), 2);
    EXPECT_EQ(open(phase(type), {{"tn", integer(0)}, {"koodi", text("SÄHKÖ")}}), QStringList{});  // cancelled

    const QStringList normal{
        "SELECT DISTINCT TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER "
        "LEFT JOIN TUOTVAIH",
        "ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO", type};
    EXPECT_EQ(open(normal, {{"tn", integer(0)}, {"koodi", text("SÄHKÖ")}}).size(), 2);
    EXPECT_EQ(open(q, normal, {{"tn", integer(0)}, {"koodi", text("ÖLJY")}}).size(), 2);
    EXPECT_EQ(open(q, {normal[0], normal[1], code}, {{"tn", integer(0)}, {"koodi", text("TULPPA-4")}}),
              QStringList{"TULPPA-4"});
    EXPECT_TRUE(q.fieldByName("TV_VARASTOSSA").isNull());  // no stock row
}

TEST_P(ErpStatementsTest, ProductDetailsAndTypeProducts)
{
    Query q(db());
    auto details = [](const QString& kentat) {
        return QStringList{"SELECT " + kentat + " FROM TUOTPER3",
                           "LEFT JOIN TUOTETYYPIT ON TP_TYYPPIKOODI=TTP_TYYPPIKOODI",
                           "LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO",
                           "WHERE TP_TUOTEKOODI=:tk AND TP_TOIMITTAJANRO=:tn"};
    };
    EXPECT_EQ(open(q, details("TP_NIMI,TV_VARASTOSSA"), {{"tk", text("5W30-5L")}, {"tn", integer(103)}}),
              QStringList{"Moottoriöljy 5W-30 5 l"});
    ASSERT_EQ(q.result().columns.size(), 2u);
    EXPECT_EQ(q.result().columns[1].type, ColumnType::Float);
    EXPECT_EQ(q.fieldByName("TV_VARASTOSSA").asFloat(), 7.5);
    open(q, details("*"), {{"tk", text("OS-3003")}, {"tn", integer(102)}});
    EXPECT_EQ(q.fieldByName("TTP_NIMI").asText(), "Suodattimet");
    EXPECT_EQ(q.fieldByName("TV_INVEPVM").asDateTime(), QDateTime(QDate(2026, 12, 7), QTime(9, 40)));
    EXPECT_EQ(q.result().columns[static_cast<std::size_t>(q.result().indexOf("TP_MUUTETTU"))].type,
              ColumnType::DateTime);

    open(q,
         {"SELECT TUOTPER.*,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER",
          "LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO",
          "WHERE TP_TYYPPIKOODI=:tk"},
         {{"tk", text("ÖLJY")}});
    EXPECT_EQ(q.recordCount(), 2);
    EXPECT_GE(q.result().indexOf("TP_HYLLYPAIKKA"), 0);

    EXPECT_EQ(open({"SELECT TOI_NIMI FROM TOIMPER", "WHERE TOI_TOIMITTAJANRO=:tn"}, {{"tn", integer(103)}}),
              QStringList{"Öljy-Jussi Oy"});
    EXPECT_EQ(open({"SELECT TV_INVEPVM FROM TUOTVAIH", "WHERE TV_TUOTEKOODI=:tk AND TV_TOIMITTAJANRO=:tn"},
                   {{"tk", text("JP-1001")}, {"tn", integer(101)}}),
              QStringList{"2026-06-15 16:20:00"});
}

TEST_P(ErpStatementsTest, OpenPurchaseOrderLinesDeductTheReceiptQueue)
{
    const QStringList lines{
        "SELECT (IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0)) ",
        "-(SELECT IFNULL(SUM(KEO_KERATTYMAARA),0) FROM KERUUOSTOTILAUS",
        "WHERE KEO_OSTOTILAUSNRO=OTR_NRO ",
        "AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn",
        "AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL))",
        "",
        "AVOINNA",
        "",
        ",OSTOTILRIV.*,TP_EANKOODI,TP_TYYPPIKOODI,TP_HYLLYPAIKKA ",
        "FROM OSTOTILRIV ",
        "LEFT JOIN TUOTPER ON OTR_TUOTEKOODI=TP_TUOTEKOODI AND OTR_TOIMITTAJANRO=TP_TOIMITTAJANRO",
        "WHERE OTR_TUOTEKOODI=:tk AND OTR_TOIMITTAJANRO=:tn",
        "AND ",
        "(",
        "(IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))",
        "-(SELECT IFNULL(SUM(KEO_KERATTYMAARA),0) FROM KERUUOSTOTILAUS",
        "WHERE KEO_OSTOTILAUSNRO=OTR_NRO ",
        "AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn",
        "AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL))",
        "",
        ">0",
        ")"};
    const Binds jp{{"tk", text("JP-1001")}, {"tn", integer(101)}};
    Query q(db());
    EXPECT_EQ(q.paramNames(), QStringList{});
    EXPECT_EQ(open(q, lines, jp), QStringList{"3"});  // 10 ordered, 4 delivered, 3 waiting
    EXPECT_EQ(q.result().columns[0].name, "AVOINNA");
    EXPECT_EQ(q.result().columns[0].type, ColumnType::Float);
    EXPECT_EQ(q.fieldByName("OTR_NRO").asInteger(), 5001);
    EXPECT_EQ(q.fieldByName("TP_HYLLYPAIKKA").asText(), "A-12");

    // Queue row processed in 2017 no longer counts; once 6 wait the line is no longer open.
    testDb().execute(QStringLiteral(
        "INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TUOTEKOODI, KEO_TOIMITTAJANRO, KEO_KERATTYMAARA, "
        "KEO_JATKOKASITELTY) VALUES ('X1', 5001, 'JP-1001', 101, 5, '2017-03-01 00:00:00')"));
    EXPECT_EQ(open(q, lines, jp), QStringList{"3"});
    testDb().execute(QStringLiteral(
        "INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TUOTEKOODI, KEO_TOIMITTAJANRO, KEO_KERATTYMAARA, "
        "KEO_JATKOKASITELTY) VALUES ('X2', 5001, 'JP-1001', 101, 3, NULL)"));
    EXPECT_EQ(open(q, lines, jp), QStringList{});

    const QStringList queue{"SELECT SUM(KEO_KERATTYMAARA) FROM KERUUOSTOTILAUS", "WHERE KEO_OSTOTILAUSNRO=:otnro ",
                            "AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn",
                            "AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL)"};
    open(q, queue, {{"otnro", integer(5001)}, {"tk", text("JP-1001")}, {"tn", integer(101)}});
    EXPECT_EQ(q.field(0).asInteger(), 6);
    open(q, queue, {{"otnro", integer(5002)}, {"tk", text("OS-3003")}, {"tn", integer(102)}});
    EXPECT_TRUE(q.field(0).isNull());
    EXPECT_EQ(q.field(0).asInteger(), 0);
}

TEST_P(ErpStatementsTest, StagingTableInserts)
{
    EXPECT_EQ(
        execute({"INSERT INTO KERUUOSTOTILAUS",
                 "(KEO_ID, KEO_OSTOTILAUSNRO, KEO_TILAUSRIVINRO, KEO_TOIMITTAJANRO, KEO_TUOTEKOODI, KEO_SAAPUVAMAARA, "
                 "KEO_KERATTYMAARA, KEO_KASITELTY, KEO_JATKOKASITELTY, KEO_KERUUPAATEID, KEO_TILA)",
                 "VALUES ",
                 "(:id,:ostotilausnro ,:tilausrivinro ,:toimittajanro ,:tuotekoodi,:saapuvamaara ,:kerattymaara ,null "
                 ",null ,:keruupaateid, :tila)"},
                {{"id", text("P2-1")},
                 {"ostotilausnro", integer(5002)},
                 {"tilausrivinro", integer(1)},
                 {"toimittajanro", integer(102)},
                 {"tuotekoodi", text(" os-3003 ")},
                 {"saapuvamaara", 12.0},
                 {"kerattymaara", 11.5},
                 {"keruupaateid", text("PAATE2")},
                 {"tila", text("KESKEN")}}),
        1);
    EXPECT_EQ(testDb().text("SELECT KEO_TUOTEKOODI FROM KERUUOSTOTILAUS WHERE KEO_ID='P2-1'"), " os-3003 ");

    EXPECT_EQ(
        execute({"INSERT INTO KERUUTUOTTEET", "(KTU_ID, KTU_TOIMITTAJANRO, KTU_TUOTEKOODI, KTU_MAARA,",
                 " KTU_KASITELTY, KTU_JATKOKASITELTY, KTU_KERUUPAATEID,  KTU_SARJANRO, KTU_ASIAKASNRO)", "VALUES ",
                 "(:id,:toimittajanro ,:tuotekoodi ,:maara , Now(), null , :keruupaateid, null, :asiakasnro)"},
                {{"id", text("K-1")},
                 {"toimittajanro", integer(101)},
                 {"tuotekoodi", text("JP-1001")},
                 {"maara", 2.0},
                 {"keruupaateid", text("PAATE2")},
                 {"asiakasnro", integer(0)}}),
        1);
    EXPECT_EQ(
        testDb().integer("SELECT COUNT(*) FROM KERUUTUOTTEET WHERE KTU_ASIAKASNRO=0 AND KTU_KASITELTY IS NOT NULL"), 1);

    EXPECT_EQ(
        execute(
            {"INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI)",
             "VALUES (:p1,:p2,:p3,:p4,:p5,:p6)"},
            {{"p1", integer(999999999)},
             {"p2", integer(101)},
             {"p3", text("JÄÄ-1")},
             {"p4", integer(-3)},
             {"p5", QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12))},
             {"p6", integer(0)}}),
        1);

    EXPECT_EQ(execute({"INSERT INTO KERUUINVENTOINTI",
                       "(KEI_ID, KEI_TOIMITTAJANRO, KEI_TUOTEKOODI, KEI_VANHAMAARA, KEI_UUSIMAARA, KEI_LUOTU, "
                       "KEI_KASITELTY, KEI_JATKOKASITELTY, KEI_KERUUPAATEID, KEI_TILA)",
                       "VALUES ",
                       "(:id,:toimittajanro ,:tuotekoodi ,:vanha_varastosaldo , :uusi_varastosaldo, Now(), Now(), "
                       "null, :keruupaateid, null)"},
                      {{"id", text("I-1")},
                       {"toimittajanro", integer(103)},
                       {"tuotekoodi", text("5W30-5L")},
                       {"vanha_varastosaldo", 7.5},
                       {"uusi_varastosaldo", 12.5},
                       {"keruupaateid", text("PAATE2")}}),
              1);

    EXPECT_EQ(
        execute(
            {"INSERT INTO KERUUTUOTEMUUTOS",
             "(KTM_ID, KTM_TOIMITTAJANRO, KTM_TUOTEKOODI, KTM_UUSI_EAN, KTM_UUSIHYLLY, KTM_UUSIHALY, KTM_UUSIOPTIMI,  "
             "KTM_JATKOKASITELTY, KTM_UUSINIMI)",
             "VALUES ",
             "(:id,:toimittajanro ,:tuotekoodi ,:eankoodi ,:hyllypaikka,:halytysraja ,:optimivarasto ,null, :nimi)"},
            {{"id", text("M-1")},
             {"toimittajanro", integer(101)},
             {"tuotekoodi", text("JP-1001")},
             {"eankoodi", text("6417000100014")},
             {"hyllypaikka", text("Ä-12B")},
             {"halytysraja", Null{}},
             {"optimivarasto", integer(25)},
             {"nimi", text("Jarrupalat Łódź")}}),
        1);
    EXPECT_EQ(testDb().text("SELECT KTM_UUSIHYLLY FROM KERUUTUOTEMUUTOS WHERE KTM_UUSIHALY IS NULL"), "Ä-12B");
}

TEST_P(ErpStatementsTest, WorkOrderSearches)
{
    auto search = [](bool finishedToo, bool reknro, bool nro) {
        QStringList l{
            "SELECT MAARPER.*,AP_NIMI,AP_ASIAKASNRO,AJN_MERKKI,AJN_MALLI FROM MAARPER",
            "LEFT JOIN ASIAKPER ON TYO_ASIAKASNRO=AP_ASIAKASNRO", "LEFT JOIN AJONEUVO ON TYO_REKNRO=AJN_REKNRO",
            "WHERE TYO_NRO>0 AND TYO_TILA<>'LASKUTETTU' AND TYO_TILA<>'KUSTANNUSARVIO' AND TYO_TILA<>'PERUTTU'"};
        if (!finishedToo)
            l << "AND TYO_TILA<>'TYÖT OK'AND TYO_TILA<>'VALMIS'";
        if (reknro)
            l << "AND TYO_REKNRO=:reknro";
        if (nro)
            l << "AND TYO_NRO=:nro";
        l << "ORDER BY TYO_NRO DESC";
        return l;
    };
    Query q(db());
    EXPECT_EQ(open(q, search(false, false, false)), (QStringList{"10009", "10008", "10002", "10001"}));
    EXPECT_EQ(open(search(true, false, false)), (QStringList{"10009", "10008", "10004", "10003", "10002", "10001"}));
    EXPECT_EQ(open(q, search(true, true, true), {{"reknro", text("ABC-123")}, {"nro", integer(10004)}}),
              QStringList{"10004"});
    EXPECT_EQ(q.fieldByName("AP_NIMI").asText(), "Virtanen Matti");
    EXPECT_EQ(q.fieldByName("AJN_MERKKI").asText(), "Volkswagen");
    EXPECT_EQ(open(search(false, true, false), {{"reknro", text("ABC123")}}), QStringList{});

    QStringList operations =
        open({"SELECT * FROM TYOSUOR", "WHERE TYS_KOODI IS NOT NULL", "AND UPPER(TYS_NIMI) like :nimi"},
             {{"nimi", text("% HUOLTO%")}});
    operations.sort();
    EXPECT_EQ(operations, (QStringList{"1", "2", "6"}));  // not "Määräaikaishuolto": the blank counts
    EXPECT_EQ(open({"SELECT * FROM TYOSUOR", "WHERE TYS_KOODI IS NOT NULL", "AND TYS_KOODI=:koodi"},
                   {{"koodi", text("ÖLJY")}}),
              QStringList{"3"});
    EXPECT_EQ(open({"SELECT * FROM TYOSUOR", "WHERE TYS_KOODI IS NOT NULL"}).size(), 8);

    const QStringList customers{
        "SELECT "
        "AP_ASIAKASNRO,AP_NIMI,AP_GSM,AP_GSMSUUNTA,AP_LISATIEDOT,AP_YRITYS,AP_KATUOSOITE,AP_POSTINUMERO,AP_"
        "POSTITOIMIPAIKKA,AP_POSTIOSOITE",
        "FROM ASIAKPER", "WHERE UPPER(AP_NIMI) LIKE :nimihaku AND ROWNUM<100"};
    EXPECT_EQ(open(customers, {{"nimihaku", text("VIRTA%")}}).size(), 2);
    EXPECT_EQ(open(customers, {{"nimihaku", text("%ÅSA%")}}), QStringList{"1003"});
    EXPECT_EQ(open(customers, {{"nimihaku", text("")}}), QStringList{});
    EXPECT_EQ(open({"SELECT * FROM ASIAKPER WHERE AP_ASIAKASNRO<100"}), QStringList{});

    open(q, {"SELECT * FROM MAARTYO", "WHERE MTR_NRO=:tyomaaraysnro"}, {{"tyomaaraysnro", integer(10002)}});
    EXPECT_EQ(q.recordCount(), 2);
    EXPECT_EQ(q.fieldByName("MTR_TEHTAVA").asText(), "Määräaikaishuolto");
    EXPECT_EQ(q.fieldByName("MTR_RIVINRO").asInteger(), 1);

    EXPECT_EQ(open({"SELECT TYO_SELVITYS2 FROM MAARPER", "WHERE TYO_NRO=:nro"}, {{"nro", integer(10009)}}),
              QStringList{""});
    EXPECT_EQ(open({"SELECT TRV_NIMI FROM MAARVOSA", "WHERE TRV_NRO=:nro", "ORDER BY JNRO"}, {{"nro", integer(10009)}}),
              (QStringList{"Sytytyspuolan vianhaku", "Käynnistysakku 74 Ah", "Sytytystulppa, iridium"}));
}

TEST_P(ErpStatementsTest, WorkTimeEntries)
{
    Query q(db());
    open(q, {"SELECT MAX(TYA_NRO) FROM TYOAIKA"});
    const std::int64_t next = q.field(0).asInteger() + 1;
    EXPECT_EQ(next, 4);
    const QDateTime start(QDate(2026, 12, 9), QTime(10, 0, 1));
    EXPECT_EQ(execute({"INSERT INTO TYOAIKA(TYA_NRO,TYA_TYONRO,TYA_VAIHENRO,",
                       "TYA_VAATIVUUS,TYA_ALKUKLO,TYA_TEKIJA,TYA_TYOKOODI,", "TYA_TYONIMIKE,TYA_TYOJOHT,TYA_LISATIETO",
                       ")", "VALUES (:tyokirjausnro,:tyonro,0,0,:alkuaika,:tekija,", "NULL,NULL,NULL,NULL", ")"},
                      {{"tyokirjausnro", integer(next)},
                       {"tyonro", integer(10001)},
                       {"alkuaika", start},
                       {"tekija", text("PEKKA")}}),
              1);

    open(q, {"SELECT * FROM TYOAIKA", "WHERE TYA_NRO=:tyokirjausnro"}, {{"tyokirjausnro", integer(next)}});
    EXPECT_EQ(q.fieldByName("TYA_ALKUKLO").asDateTime(), start);
    EXPECT_TRUE(q.fieldByName("TYA_LOPPUKLO").isNull());
    EXPECT_EQ(q.fieldByName("TYA_LOPPUKLO").asDateTime(), zeroDateTime());

    const QStringList openEntries{"SELECT TYA_NRO FROM TYOAIKA",
                                  "WHERE TYA_TYONRO=:tyomaaraysnro AND (TYA_LOPPUKLO IS NULL OR "
                                  "TYA_LOPPUKLO<'1900-1-1') AND TYA_TEKIJA=:kayttajatunnus"};
    EXPECT_EQ(open(openEntries, {{"tyomaaraysnro", integer(10002)}, {"kayttajatunnus", text("PEKKA")}}),
              QStringList{"2"});
    EXPECT_EQ(open(openEntries, {{"tyomaaraysnro", integer(10008)}, {"kayttajatunnus", text("ÅSA")}}),
              QStringList{"3"});
    EXPECT_EQ(open(openEntries, {{"tyomaaraysnro", integer(10002)}, {"kayttajatunnus", text("pekka")}}), QStringList{});

    EXPECT_EQ(execute({"UPDATE TYOAIKA SET TYA_LOPPUKLO=:aika", "WHERE TYA_NRO=:tyokirjausnro"},
                      {{"aika", start.addSecs(3600)}, {"tyokirjausnro", integer(next)}}),
              1);
    EXPECT_EQ(execute({"UPDATE TYOAIKA SET TYA_TYONIMIKE=:tyonimike,TYA_TYOKOODI=:koodi,TYA_VAIHENRO=:rivinro",
                       "WHERE TYA_NRO=:tyokirjausnro"},
                      {{"tyonimike", text("Etujarrujen huolto")},
                       {"koodi", text("JARRU-E")},
                       {"rivinro", integer(1)},
                       {"tyokirjausnro", integer(next)}}),
              1);
    EXPECT_EQ(open({"SELECT TYA_TYONRO FROM TYOAIKA", "WHERE TYA_NRO=:nro"}, {{"nro", integer(next)}}),
              QStringList{"10001"});
    EXPECT_EQ(execute({"UPDATE MAARTYO SET MTR_TEHTAVA=:tehtava", "WHERE MTR_NRO=:nro AND MTR_RIVINRO=:rivinro"},
                      {{"tehtava", text(" Etujarrut ja levyt")}, {"nro", integer(10001)}, {"rivinro", integer(1)}}),
              1);
    EXPECT_EQ(execute({"UPDATE TYOAIKA SET TYA_LISATIETO=:lisatieto", "WHERE TYA_NRO=:tyokirjausnro"},
                      {{"lisatieto", Value(QString(255, QChar(0x00F6)))}, {"tyokirjausnro", integer(next)}}),
              1);
    EXPECT_EQ(testDb().text(QStringLiteral("SELECT TYA_LISATIETO FROM TYOAIKA WHERE TYA_NRO=%1").arg(next)),
              QString(255, QChar(0x00F6)));
    EXPECT_EQ(execute({"UPDATE TYOAIKA SET TYA_LISATIETO=:lisatieto", "WHERE TYA_NRO=:tyokirjausnro"},
                      {{"lisatieto", text("x")}, {"tyokirjausnro", integer(999)}}),
              0);
}

TEST_P(ErpStatementsTest, WorkLinesAndTotals)
{
    Query q(db());
    open(q, {"SELECT TYO_ASIAKASNRO,TYO_ASIAKASNRO2,TYO_ASIAKASNRO3 FROM MAARPER", "WHERE TYO_NRO=:nro"},
         {{"nro", integer(10008)}});
    EXPECT_EQ(q.fieldByName("TYO_ASIAKASNRO2").asInteger(), 1006);
    EXPECT_EQ(open({"SELECT AP_TOIDENALEPROS FROM ASIAKPER", "WHERE AP_ASIAKASNRO=:asiakasnro"},
                   {{"asiakasnro", integer(1005)}}),
              QStringList{"12.5"});
    open(q, {"SELECT IFNULL(MAX(MTR_RIVINRO),0)+1 FROM MAARTYO WHERE MTR_NRO=:mtr_nro"}, {{"mtr_nro", integer(10008)}});
    EXPECT_EQ(q.field(0).value(), Value(std::int64_t{3}));
    open(q, {"SELECT IFNULL(MAX(MTR_RIVINRO),0)+1 FROM MAARTYO WHERE MTR_NRO=:mtr_nro"}, {{"mtr_nro", integer(10009)}});
    EXPECT_EQ(q.field(0).value(), Value(std::int64_t{1}));

    const QStringList insert{
        "INSERT INTO MAARTYO(",
        "MTR_NRO, MTR_RIVINRO, MTR_SUORITTAJA, MTR_ASIAKASNRO, MTR_TYOKOODI",
        ", MTR_AJONEUVOKOODI, MTR_TYOLUOKKA, MTR_TEHTAVA, MTR_LISATEKSTI, MTR_SELVITYS",
        ", MTR_ALOITETTUPVM, MTR_VALMISPVM, MTR_ARVIOAIKA, MTR_SUORITETTUAIKA, MTR_LASKUTETTUAIKA",
        ", MTR_TUNTIVELOITUS, MTR_KIINTEAHINTA, MTR_ALEPROS, MTR_ALE, MTR_RIVISUMMA",
        ", MTR_VEROKANTA, JNRO, MTR_KPL, MTR_TYYPPI, MTR_PAKETTITUNNUS",
        ", MTR_OSTOHINTA, MTR_KATE, MTR_DEBET, MTR_VAURIONRO, MTR_TYOPAKKOODI",
        ", MTR_VIITE, MTR_CABASKOODI, MTR_TYOPAKHAKUNRO, MTR_RIVITYYPPI",
        ")",
        "VALUES(",
        ":mtr_nro, :mtr_rivinro, :mtr_suorittaja, :mtr_asiakasnro, :mtr_tyokoodi",
        ", :mtr_ajoneuvokoodi, :mtr_tyoluokka, :mtr_tehtava, :mtr_lisateksti, :mtr_selvitys",
        ", :mtr_aloitettupvm, :mtr_valmispvm, :mtr_arvioaika, :mtr_suoritettuaika, :mtr_laskutettuaika",
        ", :mtr_tuntiveloitus, :mtr_kiinteahinta, :mtr_alepros, :mtr_ale, :mtr_rivisumma",
        ", :mtr_verokanta, (SELECT IFNULL(MAX(JNRO),0)+1000 FROM MAARTYO WHERE MTR_NRO=:mtr_nro), :mtr_kpl, "
        ":mtr_tyyppi, :mtr_pakettitunnus",
        ", :mtr_ostohinta, :mtr_kate, :mtr_debet, :mtr_vaurionro, :mtr_tyopakkoodi",
        ", :mtr_viite, :mtr_cabaskoodi, :mtr_tyopakhakunro, :mtr_rivityyppi",
        ")"};
    auto binds = [&](int nro, int rivinro) {
        return Binds{{"mtr_nro", integer(nro)},
                     {"mtr_rivinro", integer(rivinro)},
                     {"mtr_suorittaja", text("ÅSA")},
                     {"mtr_asiakasnro", integer(1006)},
                     {"mtr_tyokoodi", text("KORI")},
                     {"mtr_ajoneuvokoodi", text("")},
                     {"mtr_tyoluokka", text("B")},
                     {"mtr_tehtava", text("Valojen vaihto")},
                     {"mtr_lisateksti", text("")},
                     {"mtr_selvitys", text("")},
                     {"mtr_aloitettupvm", zeroDateTime()},
                     {"mtr_valmispvm", QDateTime(QDate(2026, 12, 9), QTime(15, 0))},
                     {"mtr_arvioaika", 1.0},
                     {"mtr_suoritettuaika", 1.5},
                     {"mtr_laskutettuaika", 1.5},
                     {"mtr_tuntiveloitus", 80.0},
                     {"mtr_kiinteahinta", 0.0},
                     {"mtr_alepros", 20.0},
                     {"mtr_ale", 0.0},
                     {"mtr_rivisumma", 96.0},
                     {"mtr_verokanta", integer(24)},
                     {"mtr_kpl", 1.0},
                     {"mtr_tyyppi", integer(0)},
                     {"mtr_pakettitunnus", integer(0)},
                     {"mtr_ostohinta", 0.0},
                     {"mtr_kate", 120.0},
                     {"mtr_debet", integer(0)},
                     {"mtr_vaurionro", integer(-1)},
                     {"mtr_tyopakkoodi", text("")},
                     {"mtr_viite", text("2026-4471")},
                     {"mtr_cabaskoodi", text("")},
                     {"mtr_tyopakhakunro", integer(0)},
                     {"mtr_rivityyppi", text("T")}};
    };
    EXPECT_EQ(execute(insert, binds(10008, 3)), 1);
    EXPECT_EQ(execute(insert, binds(10009, 1)), 1);
    EXPECT_EQ(testDb().integer("SELECT JNRO FROM MAARTYO WHERE MTR_NRO=10008 AND MTR_RIVINRO=3"), 3000);
    EXPECT_EQ(testDb().integer("SELECT JNRO FROM MAARTYO WHERE MTR_NRO=10009 AND MTR_RIVINRO=1"), 1000);
    EXPECT_EQ(testDb().integer("SELECT MTR_VAURIONRO FROM MAARTYO WHERE MTR_NRO=10009"), -1);
    try {
        execute(insert, binds(10009, 1));
        FAIL() << "the same row number was accepted twice";
    } catch (const Error& e) {
        EXPECT_TRUE(e.isDuplicateKey()) << e.what();
    }

    EXPECT_EQ(execute({"UPDATE MAARPER SET", "TYO_YHTEENSA=TYO_YHTEENSA+:muutos,",
                       "TYO_YHTEENSA_TYO=TYO_YHTEENSA_TYO+:muutos,", "TYO_YHTEENSA_TYO2=TYO_YHTEENSA_TYO2+ :muutos,",
                       "TYO_MUUTETTU=NOW()", "WHERE TYO_NRO=:nro"},
                      {{"muutos", 96.0}, {"nro", integer(10008)}}),
              1);
    open(q, {"SELECT TYO_YHTEENSA, TYO_YHTEENSA_TYO, TYO_YHTEENSA_TYO1, TYO_YHTEENSA_TYO2 FROM MAARPER WHERE "
             "TYO_NRO=10008"});
    EXPECT_EQ(q.fieldByName("TYO_YHTEENSA").asFloat(), 736.0);
    EXPECT_EQ(q.fieldByName("TYO_YHTEENSA_TYO1").asFloat(), 160.0);
    EXPECT_EQ(q.fieldByName("TYO_YHTEENSA_TYO2").asFloat(), 576.0);

    EXPECT_EQ(execute({"UPDATE MAARPER SET TYO_TILA=:tila, TYO_VALMISPVM=Now()", "WHERE TYO_NRO=:nro"},
                      {{"tila", text("TYÖT OK")}, {"nro", integer(10008)}}),
              1);
    EXPECT_EQ(testDb().text("SELECT TYO_TILA FROM MAARPER WHERE TYO_NRO=10008"), QString::fromUtf8("TYÖT OK"));
    EXPECT_EQ(execute({"UPDATE MAARPER SET TYO_TILA=:tila, TYO_VALMISPVM=Now()", "WHERE TYO_NRO=:nro"},
                      {{"tila", text("TYÖT OK")}, {"nro", integer(4711)}}),
              0);
}

KRP_INSTANTIATE_ON_BACKENDS(ErpStatementsTest);

}  // namespace
