// The ERP dialect gives the same answers on SQLite and MariaDB (demo data).
#include "db/Query.h"
#include "support/TestDatabases.h"

#include <cmath>

using namespace krp::db;
using krp::test::DatabaseTest;

namespace {

class DialectTest : public DatabaseTest {};

TEST_P(DialectTest, RownumLimitsTheRows)
{
    Query q(db());
    q.setSql({"SELECT AP_ASIAKASNRO FROM ASIAKPER", "WHERE UPPER(AP_NIMI) LIKE :nimi AND ROWNUM<3"});
    q.param("nimi").setText("%");
    q.open();
    EXPECT_EQ(q.recordCount(), 2);
}

TEST_P(DialectTest, UpperMapsFinnishLettersAndLikeIsCaseSensitive)
{
    Query q(db());
    EXPECT_EQ(testDb().text("SELECT UPPER('jäähdytin öljy åsa') FROM ASETUS WHERE ASETUS='yrityksen nimi'"),
              QString::fromUtf8("JÄÄHDYTIN ÖLJY ÅSA"));
    q.setSql({"SELECT AP_NIMI FROM ASIAKPER WHERE UPPER(AP_NIMI) LIKE :p"});
    q.param("p").setText(QString::fromUtf8("%ÖHMAN%"));
    q.open();
    EXPECT_EQ(q.recordCount(), 1);
    q.param("p").setText(QString::fromUtf8("%öhman%"));  // the client sends an upper-case pattern
    q.open();
    EXPECT_EQ(q.recordCount(), 0);
}

TEST_P(DialectTest, NowIsTheLocalTimeToTheSecond)
{
    Query q(db());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    q.setSql({"UPDATE MAARPER SET TYO_VALMISPVM=Now() WHERE TYO_NRO=10001"});
    q.execute();
    q.setSql({"SELECT TYO_VALMISPVM, NOW() AS HETKI FROM MAARPER WHERE TYO_NRO=10001"});
    q.open();
    const QDateTime stored = q.fieldByName("TYO_VALMISPVM").asDateTime();
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);
    EXPECT_TRUE(stored >= before && stored <= after) << stored.toString().toStdString();
    EXPECT_EQ(stored.time().msec(), 0);
    EXPECT_TRUE(q.fieldByName("HETKI").asDateTime() >= before);
}

TEST_P(DialectTest, ShortDateLiteralsCompareWithStoredDateTimes)
{
    Query q(db());
    // The queue rows: PAATE1-0001 waits (null), PAATE1-0002 was processed in 2026.
    testDb().execute(QStringLiteral(
        "INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TUOTEKOODI, KEO_TOIMITTAJANRO, "
        "KEO_KERATTYMAARA, KEO_JATKOKASITELTY) VALUES ('OLD', 5001, 'JP-1001', 101, 2, '1990-01-01 00:00:00');"
        "INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TUOTEKOODI, KEO_TOIMITTAJANRO, "
        "KEO_KERATTYMAARA, KEO_JATKOKASITELTY) VALUES ('EDGE', 5001, 'JP-1001', 101, 100, '2000-01-01 00:00:00')"));
    q.setSql({"SELECT KEO_ID FROM KERUUOSTOTILAUS",
              "WHERE (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL)", "ORDER BY KEO_ID"});
    q.open();
    QStringList ids;
    for (; !q.eof(); q.next())
        ids << q.field(0).asText();
    EXPECT_EQ(ids, (QStringList{"OLD", "PAATE1-0001"}));

    EXPECT_EQ(testDb().integer("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_LOPPUKLO IS NULL OR TYA_LOPPUKLO<'1900-1-1'"),
              2);
}

TEST_P(DialectTest, TablesCatalogueListsTheSettingsTables)
{
    Query q(db());
    q.setSql({"SELECT TABLE_NAME FROM TABLES", "WHERE TABLE_NAME='ASETUKSET'"});
    q.open();
    EXPECT_EQ(q.recordCount(), 1);
    testDb().execute(QStringLiteral("DROP TABLE ASETUKSET"));
    q.open();
    EXPECT_EQ(q.recordCount(), 0);
}

TEST_P(DialectTest, IfnullAndAliasWithoutAs)
{
    Query q(db());
    q.setSql({"SELECT (IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0)) ", "",
              "AVOINNA", "", "FROM OSTOTILRIV WHERE OTR_NRO=5001 AND OTR_RIVINRO=3"});
    q.open();
    EXPECT_EQ(q.fieldByName("AVOINNA").asFloat(), 15.0);
}

KRP_INSTANTIATE_ON_BACKENDS(DialectTest);

}  // namespace
