// Product details, products of a type, open purchase-order lines, the goods-receipt queue,
// the supplier's name and the stock-count warning.
#include "WarehouseFixture.h"

#include <QDate>

using namespace krp;
using krp::test::WarehouseTest;

namespace {

class TuotetiedotTest : public WarehouseTest {
protected:
    void SetUp() override
    {
        WarehouseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        exec(QStringLiteral("INSERT INTO TUOTETYYPIT (TTP_TYYPPIKOODI, TTP_NIMI) VALUES ('JÄÄHDY', 'Jäähdytys')"));
        tuote(QStringLiteral("JP-1"), 101, QStringLiteral("Jarrupala"), QStringLiteral("6417"),
              QStringLiteral("JÄÄHDY"));
        tuote(QStringLiteral("JP-1"), 102, QStringLiteral("Jarrupala toinen"), QStringLiteral("6418"),
              QStringLiteral("JÄÄHDY"));
        tuote(QStringLiteral("X-9"), 101, QStringLiteral("Muu"), QStringLiteral("6419"), QStringLiteral("MUU"));
        varasto(QStringLiteral("JP-1"), 101, 7.5);
        exec(QStringLiteral("INSERT INTO TOIMPER (TOI_TOIMITTAJANRO, TOI_NIMI) VALUES (101, 'Öljy-Jussi Oy')"));
        exec(QStringLiteral("INSERT INTO TOIMPER (TOI_TOIMITTAJANRO, TOI_NIMI) VALUES (102, NULL)"));
    }

    QStringList sarakkeet(const QString& provider)
    {
        QStringList out;
        for (const db::Column& c : methods->provider(provider)->result().columns)
            out << c.name.toUpper();
        return out;
    }
};

// --- Tuotetiedot ------------------------------------------------------------------------

TEST_P(TuotetiedotTest, TuotetiedotGivesTheAskedColumnsAndLogsTheCodeAsReceived)
{
    QString tulos;
    const auto loki = logOf(
        [&] { tulos = methods->Tuotetiedot(QStringLiteral(" jp-1 "), 101, QStringLiteral("TP_NIMI,TV_VARASTOSSA")); });
    EXPECT_EQ(tulos, QString());
    EXPECT_TRUE(loki.timeTextsOk);
    EXPECT_EQ(loki.rest, QStringList{QStringLiteral(" Tuotetiedot haetaan toimittajan 101 tuotteelle  jp-1 ")});
    EXPECT_EQ(sarakkeet(QStringLiteral("dspTuotetiedot")),
              (QStringList{QStringLiteral("TP_NIMI"), QStringLiteral("TV_VARASTOSSA")}));
    db::Query* q = methods->provider(QStringLiteral("dspTuotetiedot"));
    ASSERT_EQ(q->recordCount(), 1);
    EXPECT_EQ(q->fieldByName(QStringLiteral("TP_NIMI")).asText(), QStringLiteral("Jarrupala"));
    EXPECT_EQ(q->fieldByName(QStringLiteral("TV_VARASTOSSA")).asFloat(), 7.5);
}

struct ColumnListCase {
    const char* kentat;
    int columns;  // expected column count of a well-formed list
};

TEST_P(TuotetiedotTest, WellFormedColumnListsRunUnchanged)
{
    const ColumnListCase cases[] = {
        {"TP_NIMI", 1},
        {" TP_NIMI , TV_VARASTOSSA ", 2},
        {"tp_nimi,\tTTP_NIMI", 2},
        {"TUOTPER3.TP_NIMI, TUOTVAIH.TV_VARASTOSSA, TUOTETYYPIT.TTP_NIMI", 3},
        {"TUOTVAIH.*", 6},
        {"*", 14 + 2 + 6},
    };
    for (const ColumnListCase& c : cases) {
        SCOPED_TRACE(c.kentat);
        EXPECT_EQ(methods->Tuotetiedot(QStringLiteral("JP-1"), 101, QString::fromUtf8(c.kentat)), QString());
        EXPECT_EQ(static_cast<int>(methods->provider(QStringLiteral("dspTuotetiedot"))->result().columns.size()),
                  c.columns);
        EXPECT_EQ(methods->provider(QStringLiteral("dspTuotetiedot"))->recordCount(), 1);
    }
}

TEST_P(TuotetiedotTest, AnythingButAColumnListIsRefusedWithoutRunning)
{
    const char* refused[] = {
        "",
        "   ",
        "TP_NIMI,",
        ",TP_NIMI",
        "TP_NIMI,,TP_EANKOODI",
        "TP_NIMI FROM TUOTPER3 --",
        "TP_NIMI; DELETE FROM TOIMPER",
        "(SELECT ARVO FROM ASETUS WHERE ASETUS='Mobiilisovellusten pääsykoodi') AS TP_NIMI",
        "TP_NIMI, (SELECT TOI_NIMI FROM TOIMPER)",
        "COUNT(*)",
        "TP_NIMI AS NIMI",
        "'vakio'",
        "\"TP_NIMI\"",
        "`TP_NIMI`",
        "TP_NIMI/*",
        "TP_NIMI#",
        "TP_NIMI||TP_EANKOODI",
        "1",
        "TUOTPER3.TP_NIMI.X",
        "*.*",
        "TP_NIMI\nFROM TOIMPER",
        "TP_NIMI FROM TOIMPER UNION SELECT TOI_NIMI",
    };
    for (const char* kentat : refused) {
        SCOPED_TRACE(kentat);
        // Rows of an earlier call must not be served as the answer of a refused one.
        ASSERT_EQ(methods->Tuotetiedot(QStringLiteral("JP-1"), 101, QStringLiteral("TP_NIMI")), QString());
        QString tulos;
        const auto loki =
            logOf([&] { tulos = methods->Tuotetiedot(QStringLiteral("JP-1"), 101, QString::fromUtf8(kentat)); });
        EXPECT_EQ(tulos,
                  QStringLiteral("Tuotetietojen haku epäonnistui. Syy: kenttäluettelo ei kelpaa. Anna sarakkeiden "
                                 "nimet pilkuin eroteltuina, esimerkiksi TP_NIMI,TUOTVAIH.TV_VARASTOSSA "
                                 "(myös * ja TAULU.* käyvät)."));
        ASSERT_EQ(loki.rest.size(), 2);
        EXPECT_EQ(loki.rest.at(1), QStringLiteral(" Tuotetiedot: ") + tulos);
        EXPECT_FALSE(methods->provider(QStringLiteral("dspTuotetiedot"))->isOpen());
    }
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TOIMPER")), 2);
}

TEST_P(TuotetiedotTest, TuotetiedotReportsDatabaseRefusal)
{
    QString tulos;
    const auto loki =
        logOf([&] { tulos = methods->Tuotetiedot(QStringLiteral("JP-1"), 101, QStringLiteral("EI_SARAKE")); });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Tuotetietojen haku epäonnistui. Syy: "))) << tulos.toStdString();
    EXPECT_GT(tulos.size(), QStringLiteral("Tuotetietojen haku epäonnistui. Syy: ").size());
    ASSERT_EQ(loki.rest.size(), 2);
    EXPECT_EQ(loki.rest.at(1), QStringLiteral(" Tuotetiedot: ") + tulos);
}

// --- TuotetyypinTuotteet ---------------------------------------------------------------

TEST_P(TuotetiedotTest, TypeCodeIsTrimmedAndUpperCasedAndSpansSuppliers)
{
    QString tulos;
    const auto loki = logOf([&] { tulos = methods->TuotetyypinTuotteet(QStringLiteral("  jäähdy\t")); });
    EXPECT_EQ(tulos, QString());
    EXPECT_TRUE(loki.lines.isEmpty());
    db::Query* q = methods->provider(QStringLiteral("dspTuotetyypinTuotteet"));
    ASSERT_EQ(q->recordCount(), 2);
    QStringList toimittajat;
    for (q->first(); !q->eof(); q->next())
        toimittajat << q->fieldByName(QStringLiteral("TP_TOIMITTAJANRO")).asText() + QLatin1Char(':') +
                           q->fieldByName(QStringLiteral("TV_VARASTOSSA")).asText();
    toimittajat.sort();
    EXPECT_EQ(toimittajat, (QStringList{QStringLiteral("101:7.5"), QStringLiteral("102:")}));
    // Every product column and the stock quantity.
    EXPECT_EQ(sarakkeet(QStringLiteral("dspTuotetyypinTuotteet")).size(), 14 + 1);
}

// --- TuotteenOstotilausrivit and TuotettaVarastoonkirjausjonossa -------------------------

class OstotilausTest : public TuotetiedotTest {
protected:
    void SetUp() override
    {
        TuotetiedotTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Order 7001: 10 ordered, 4 delivered, nothing cancelled.
        tilausrivi(7001, 1, QStringLiteral("JP-1"), 101, QStringLiteral("10"), QStringLiteral("4"),
                   QStringLiteral("0"));
    }

    // AVOINNA of the lines left open for dspTuotteenOTrivit, or -1 without rows.
    double avoinna()
    {
        db::Query* q = methods->provider(QStringLiteral("dspTuotteenOTrivit"));
        if (q->recordCount() != 1)
            return -q->recordCount();
        return q->fieldByName(QStringLiteral("AVOINNA")).asFloat();
    }

    std::int32_t jonossa(const QString& koodi, std::int32_t tilaus = 7001, QString* tulos = nullptr)
    {
        std::int32_t maara = -1;
        const QString t = methods->TuotettaVarastoonkirjausjonossa(koodi, 101, tilaus, maara);
        if (tulos)
            *tulos = t;
        else
            EXPECT_EQ(t, QString());
        return maara;
    }
};

TEST_P(OstotilausTest, QueuedReceiptsReduceTheOpenQuantity)
{
    EXPECT_EQ(methods->TuotteenOstotilausrivit(QStringLiteral(" jp-1 "), 101), QString());
    EXPECT_EQ(avoinna(), 6.0);
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 0);

    jonorivi(QStringLiteral("Q1"), 7001, QStringLiteral("JP-1"), 101, 3);
    EXPECT_EQ(methods->TuotteenOstotilausrivit(QStringLiteral("JP-1"), 101), QString());
    EXPECT_EQ(avoinna(), 3.0);
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 3);

    // The line shows its own columns and the product's.
    db::Query* q = methods->provider(QStringLiteral("dspTuotteenOTrivit"));
    EXPECT_EQ(q->fieldByName(QStringLiteral("OTR_NRO")).asInteger(), 7001);
    EXPECT_EQ(q->fieldByName(QStringLiteral("TP_EANKOODI")).asText(), QStringLiteral("6417"));
    EXPECT_EQ(q->fieldByName(QStringLiteral("TP_HYLLYPAIKKA")).asText(), QStringLiteral("H-1"));

    // Rows processed by the ERP after 1 January 2000 no longer count; earlier ones still do.
    jonorivi(QStringLiteral("Q2"), 7001, QStringLiteral("JP-1"), 101, 2, QStringLiteral("2017-03-01 00:00:00"));
    jonorivi(QStringLiteral("Q3"), 7001, QStringLiteral("JP-1"), 101, 1, QStringLiteral("1990-01-01 00:00:00"));
    EXPECT_EQ(methods->TuotteenOstotilausrivit(QStringLiteral("JP-1"), 101), QString());
    EXPECT_EQ(avoinna(), 2.0);
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 4);

    // Queue rows of another order or supplier do not count.
    jonorivi(QStringLiteral("Q4"), 7002, QStringLiteral("JP-1"), 101, 5);
    jonorivi(QStringLiteral("Q5"), 7001, QStringLiteral("JP-1"), 102, 5);
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 4);

    // With 6 waiting the line is no longer open.
    jonorivi(QStringLiteral("Q6"), 7001, QStringLiteral("JP-1"), 101, 2);
    EXPECT_EQ(methods->TuotteenOstotilausrivit(QStringLiteral("JP-1"), 101), QString());
    EXPECT_EQ(avoinna(), 0.0);  // no rows
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 6);
}

TEST_P(OstotilausTest, QueueCodeIsBoundAsReceived)
{
    jonorivi(QStringLiteral("Q1"), 7001, QStringLiteral("JP-1"), 101, 3);
    EXPECT_EQ(jonossa(QStringLiteral("jp-1")), 0);
    EXPECT_EQ(jonossa(QStringLiteral(" JP-1")), 0);
    EXPECT_EQ(jonossa(QStringLiteral("JP-1")), 3);
}

TEST_P(OstotilausTest, FractionalQueueSumRoundsHalfToEven)
{
    struct Case {
        double kerattu;
        std::int32_t maara;
    };
    const Case cases[] = {{2.5, 2}, {3.5, 4}, {2.4, 2}, {2.6, 3}, {0.5, 0}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kerattu);
        const int tilaus = 8000 + n++;
        jonorivi(QStringLiteral("R%1").arg(tilaus), tilaus, QStringLiteral("JP-1"), 101, c.kerattu);
        EXPECT_EQ(jonossa(QStringLiteral("JP-1"), tilaus), c.maara);
    }
}

TEST_P(OstotilausTest, FailureKeepsTheQuantityTheClientSent)
{
    exec(QStringLiteral("DROP TABLE KERUUOSTOTILAUS"));
    std::int32_t maara = 42;
    QString tulos;
    const auto loki =
        logOf([&] { tulos = methods->TuotettaVarastoonkirjausjonossa(QStringLiteral("JP-1"), 101, 7001, maara); });
    EXPECT_EQ(maara, 42);
    ASSERT_TRUE(
        tulos.startsWith(QStringLiteral("Tuotteen varastoonvarastoonkirjausjonon tilan selvitys epäonnistui. Syy: ")))
        << tulos.toStdString();
    EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), QStringLiteral(" TuotettaVarastoonkirjausjonossa: ") + tulos);

    const auto loki2 = logOf([&] { tulos = methods->TuotteenOstotilausrivit(QStringLiteral("JP-1"), 101); });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Tuotteen avointen ostotilausrivien listaaminen epäonnistui. Syy: ")))
        << tulos.toStdString();
    EXPECT_EQ(loki2.rest.join(QLatin1Char('\n')), QStringLiteral(" TuotteenOstotilausrivit: ") + tulos);
}

// --- HaeToimittajanimi ------------------------------------------------------------------

TEST_P(TuotetiedotTest, SupplierNameOrEmpty)
{
    const auto loki = logOf([&] {
        EXPECT_EQ(methods->HaeToimittajanimi(101), QStringLiteral("Öljy-Jussi Oy"));
        EXPECT_EQ(methods->HaeToimittajanimi(102), QString());  // name null
        EXPECT_EQ(methods->HaeToimittajanimi(999), QString());  // no such supplier
    });
    EXPECT_TRUE(loki.lines.isEmpty());

    exec(QStringLiteral("DROP TABLE TOIMPER"));
    QString tulos;
    const auto loki2 = logOf([&] { tulos = methods->HaeToimittajanimi(101); });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Toimittajan nimen selvitys epäonnistui. Syy: ")))
        << tulos.toStdString();
    EXPECT_EQ(loki2.rest.join(QLatin1Char('\n')), QStringLiteral(" HaeToimittajanimi: ") + tulos);
}

// --- InventointiIlmoitus ----------------------------------------------------------------

class InventointiIlmoitusTest : public TuotetiedotTest {
protected:
    void laskettu(const QString& koodi, const QDateTime& milloin)
    {
        varasto(koodi, 101, 1, milloin.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    void raja(const QString& arvo)
    {
        exec(QStringLiteral("INSERT INTO ASETUS (ASETUS, ARVO) VALUES ('inv varoituksen aikaraja', %1)")
                 .arg(krp::test::sqlText(arvo)));
    }
    // The warning as the Finnish regional settings write it.
    static QString varoitus(const QString& koodi, const QDateTime& milloin)
    {
        return QStringLiteral("Tuote %1 on jo inventoitu %2.%3.%4 %5.")
            .arg(koodi)
            .arg(milloin.date().day())
            .arg(milloin.date().month())
            .arg(milloin.date().year())
            .arg(milloin.time().toString(QStringLiteral("H.mm.ss")));
    }
};

TEST_P(InventointiIlmoitusTest, WarningLimitIsWholeDays)
{
    raja(QStringLiteral("7"));
    const QDate tanaan = QDate::currentDate();
    const QDateTime seitseman(tanaan.addDays(-7), QTime(0, 0, 1));
    const QDateTime kahdeksan(tanaan.addDays(-8), QTime(23, 59, 59));
    laskettu(QStringLiteral("T-7"), seitseman);
    laskettu(QStringLiteral("T-8"), kahdeksan);
    const auto loki = logOf([&] {
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-7"), 101), varoitus(QStringLiteral("T-7"), seitseman));
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-8"), 101), QString());
        // No stock row, or another supplier: never a warning.
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("EI-OLE"), 101), QString());
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-7"), 102), QString());
        // The code is bound as received.
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("t-7"), 101), QString());
    });
    EXPECT_TRUE(loki.lines.isEmpty());
}

TEST_P(InventointiIlmoitusTest, WithoutUsableLimitOnlyTodayWarns)
{
    const QDate tanaan = QDate::currentDate();
    const QDateTime tanaanAamulla(tanaan, QTime(0, 0, 5));
    const QDateTime eilen(tanaan.addDays(-1), QTime(23, 59, 59));
    const QDateTime huomenna(tanaan.addDays(1), QTime(12, 0, 0));
    laskettu(QStringLiteral("T-0"), tanaanAamulla);
    laskettu(QStringLiteral("T-1"), eilen);
    laskettu(QStringLiteral("T+1"), huomenna);
    varasto(QStringLiteral("T-NULL"), 101, 1);

    for (const QString& arvo :
         {QString(), QStringLiteral("ARVO_PUUTTUU"), QStringLiteral(""), QStringLiteral("viikko")}) {
        SCOPED_TRACE(arvo.toStdString());
        exec(QStringLiteral("DELETE FROM ASETUS"));
        if (arvo != QStringLiteral("ARVO_PUUTTUU"))
            raja(arvo);
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-0"), 101),
                  varoitus(QStringLiteral("T-0"), tanaanAamulla));
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-1"), 101), QString());
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T+1"), 101), varoitus(QStringLiteral("T+1"), huomenna));
        EXPECT_EQ(methods->InventointiIlmoitus(QStringLiteral("T-NULL"), 101), QString());
    }
}

TEST_P(InventointiIlmoitusTest, DatabaseErrorReachesTheCaller)
{
    exec(QStringLiteral("DROP TABLE TUOTVAIH"));
    const auto loki =
        logOf([&] { EXPECT_THROW(methods->InventointiIlmoitus(QStringLiteral("JP-1"), 101), std::exception); });
    EXPECT_TRUE(loki.lines.isEmpty());
}

}  // namespace

KRP_INSTANTIATE_ON_BACKENDS(TuotetiedotTest);
KRP_INSTANTIATE_ON_BACKENDS(OstotilausTest);
KRP_INSTANTIATE_ON_BACKENDS(InventointiIlmoitusTest);
