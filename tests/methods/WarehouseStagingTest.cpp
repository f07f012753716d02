// Rows the terminals hand in: goods receipts, picking rows, label and price-tag requests,
// stock counts and product changes, each written to its staging table.
#include "WarehouseFixture.h"
#include "methods/KetId.h"

#include <QDateTime>
#include <set>
#include <thread>

using namespace krp;
using krp::test::WarehouseTest;

namespace {

class WarehouseStagingTest : public WarehouseTest {
protected:
    static QString fromUtf8(const char* s) { return QString::fromUtf8(s); }
};

// --- LisaaVarastoontulorivit ------------------------------------------------------------

types::TVarastoontulorivi vastaanotto(const QString& id, double kerattu)
{
    types::TVarastoontulorivi r;
    r.id = id;
    r.ostotilausnro = 5001;
    r.tilausrivinro = 2;
    r.toimittajanro = 101;
    r.tuotekoodi = QStringLiteral(" jp-1001 ");
    r.saapuvamaara = 4;
    r.kerattymaara = kerattu;
    r.keruupaateid = QStringLiteral("PAATE7");
    return r;
}

TEST_P(WarehouseStagingTest, GoodsReceiptRowsAreCopiedAsSent)
{
    const auto loki = logOf([&] {
        EXPECT_EQ(methods->LisaaVarastoontulorivit(TObjectList<types::TVarastoontulorivi>{
                      vastaanotto(QStringLiteral("V1"), 2.5), vastaanotto(QStringLiteral("V2"), 1)}),
                  QString());
        EXPECT_EQ(methods->LisaaVarastoontulorivit(TObjectList<types::TVarastoontulorivi>{}), QString());
    });
    EXPECT_TRUE(loki.lines.isEmpty());
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS")), 2);
    EXPECT_EQ(row(QStringLiteral("SELECT KEO_OSTOTILAUSNRO, KEO_TILAUSRIVINRO, KEO_TOIMITTAJANRO, "
                                 "KEO_TUOTEKOODI, KEO_SAAPUVAMAARA, KEO_KERATTYMAARA, "
                                 "KEO_KERUUPAATEID, KEO_TILA FROM KERUUOSTOTILAUS WHERE KEO_ID='V1'")),
              QStringLiteral("5001|2|101| jp-1001 |4|2.5|PAATE7|KESKEN"));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KEO_KASITELTY FROM KERUUOSTOTILAUS WHERE KEO_ID='V1'")));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KEO_JATKOKASITELTY FROM KERUUOSTOTILAUS WHERE KEO_ID='V1'")));
}

TEST_P(WarehouseStagingTest, GoodsReceiptListStopsAtTheFailingRow)
{
    jonorivi(QStringLiteral("OLEMASSA"), 1, QStringLiteral("X"), 1, 1);
    QString tulos;
    const auto loki = logOf([&] {
        tulos = methods->LisaaVarastoontulorivit(TObjectList<types::TVarastoontulorivi>{
            vastaanotto(QStringLiteral("UUSI-1"), 1), vastaanotto(QStringLiteral("OLEMASSA"), 1),
            vastaanotto(QStringLiteral("UUSI-3"), 1)});
    });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Varastoontulorivien lisäys epäonnistui. Syy: ")))
        << tulos.toStdString();
    EXPECT_GT(tulos.size(), QStringLiteral("Varastoontulorivien lisäys epäonnistui. Syy: ").size());
    EXPECT_TRUE(loki.timeTextsOk);
    EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), QStringLiteral(" LisaaVarastoontulorivit: ") + tulos);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID='UUSI-1'")), 1);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUOSTOTILAUS WHERE KEO_ID='UUSI-3'")), 0);
    EXPECT_EQ(text(QStringLiteral("SELECT KEO_TUOTEKOODI FROM KERUUOSTOTILAUS WHERE KEO_ID='OLEMASSA'")),
              QStringLiteral("X"));
}

// --- LisaaKerailyrivit ------------------------------------------------------------------

types::TKerailyrivi keraily(const QString& id, std::int32_t asiakas)
{
    types::TKerailyrivi r;
    r.id = id;
    r.toimittajanro = 103;
    r.tuotekoodi = QStringLiteral("5w30-5l");
    r.maara = 1.25;
    r.keruupaateid = QStringLiteral("PAATE2");
    r.asiakasnro = asiakas;
    return r;
}

TEST_P(WarehouseStagingTest, PickingRowsGetTheDatabaseTime)
{
    EXPECT_EQ(methods->LisaaKerailyrivit(TObjectList<types::TKerailyrivi>{keraily(QStringLiteral("K1"), 0),
                                                                          keraily(QStringLiteral("K2"), 1002)}),
              QString());
    EXPECT_EQ(row(QStringLiteral("SELECT KTU_TOIMITTAJANRO, KTU_TUOTEKOODI, KTU_MAARA, "
                                 "KTU_KERUUPAATEID, KTU_ASIAKASNRO FROM KERUUTUOTTEET WHERE KTU_ID='K1'")),
              QStringLiteral("103|5w30-5l|1.25|PAATE2|0"));
    EXPECT_EQ(integer(QStringLiteral("SELECT KTU_ASIAKASNRO FROM KERUUTUOTTEET WHERE KTU_ID='K2'")), 1002);
    EXPECT_FALSE(isNull(QStringLiteral("SELECT KTU_KASITELTY FROM KERUUTUOTTEET WHERE KTU_ID='K1'")));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KTU_JATKOKASITELTY FROM KERUUTUOTTEET WHERE KTU_ID='K1'")));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KTU_SARJANRO FROM KERUUTUOTTEET WHERE KTU_ID='K1'")));
}

TEST_P(WarehouseStagingTest, PickingListStopsAtTheFailingRow)
{
    QString tulos;
    const auto loki = logOf([&] {
        tulos = methods->LisaaKerailyrivit(TObjectList<types::TKerailyrivi>{
            keraily(QStringLiteral("K1"), 1), keraily(QStringLiteral("K1"), 2), keraily(QStringLiteral("K3"), 3)});
    });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Keräilyrivien lisäys epäonnistui. Syy: "))) << tulos.toStdString();
    EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), QStringLiteral(" LisaaKerailyrivit: ") + tulos);
    EXPECT_EQ(integer(QStringLiteral("SELECT KTU_ASIAKASNRO FROM KERUUTUOTTEET WHERE KTU_ID='K1'")), 1);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUTUOTTEET")), 1);
}

// --- Absent lists and records -----------------------------------------------------------

TEST_P(WarehouseStagingTest, AbsentListOrRecordWritesNothing)
{
    struct Case {
        const char* name;
        std::function<QString()> call;
        QString odotettu;
        QString tagi;
    };
    const Case cases[] = {
        {"LisaaVarastoontulorivit", [&] { return methods->LisaaVarastoontulorivit(std::nullopt); },
         fromUtf8("Varastoontulorivien lisäys epäonnistui. Syy: rivejä ei annettu (lista puuttuu)."),
         QStringLiteral(" LisaaVarastoontulorivit: ")},
        {"LisaaKerailyrivit", [&] { return methods->LisaaKerailyrivit(std::nullopt); },
         fromUtf8("Keräilyrivien lisäys epäonnistui. Syy: rivejä ei annettu (lista puuttuu)."),
         QStringLiteral(" LisaaKerailyrivit: ")},
        {"LisaaInventointirivi", [&] { return methods->LisaaInventointirivi(std::nullopt); },
         fromUtf8("Inventointirivin lisäys epäonnistui. Syy: riviä ei annettu (tietue puuttuu)."),
         QStringLiteral(" LisaaInventointirivi: ")},
        {"LisaaTuotemuutosrivi", [&] { return methods->LisaaTuotemuutosrivi(std::nullopt); },
         fromUtf8("Tuotemuutosrivin lisäys epäonnistui. Syy: riviä ei annettu (tietue puuttuu)."),
         QStringLiteral(" LisaaTuotemuutosrivi: ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString tulos;
        const auto loki = logOf([&] { tulos = c.call(); });
        EXPECT_EQ(tulos, c.odotettu);
        EXPECT_TRUE(loki.timeTextsOk);
        EXPECT_EQ(loki.rest, QStringList{c.tagi + c.odotettu});
    }
    EXPECT_EQ(
        integer(QStringLiteral("SELECT (SELECT COUNT(*) FROM KERUUOSTOTILAUS) + (SELECT COUNT(*) FROM KERUUTUOTTEET)"
                               " + (SELECT COUNT(*) FROM KERUUINVENTOINTI) + (SELECT COUNT(*) FROM KERUUTUOTEMUUTOS)")),
        0);
}

// --- LisaaTarratulostus / LisaaHintalappuTulostus ---------------------------------------

TEST_P(WarehouseStagingTest, LabelAndPriceTagRequests)
{
    const QDateTime ennen = QDateTime::currentDateTime().addSecs(-1);
    const auto loki = logOf([&] {
        EXPECT_EQ(methods->LisaaTarratulostus(fromUtf8(" \tjäähdytin-1 "), 102, 3), QString());
        EXPECT_EQ(methods->LisaaTarratulostus(fromUtf8("JÄÄHDYTIN-1"), 102, 3), QString());
        EXPECT_EQ(methods->LisaaHintalappuTulostus(QStringLiteral("x-2"), 0, -4), QString());
    });
    const QDateTime jalkeen = QDateTime::currentDateTime().addSecs(1);
    EXPECT_TRUE(loki.lines.isEmpty());

    db::Query q(db());
    q.setSql(
        {QStringLiteral("SELECT KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI "
                        "FROM KERUUTARRA ORDER BY KET_TYYPPI DESC, KET_ID")});
    q.open();
    ASSERT_EQ(q.recordCount(), 3);
    std::set<std::int64_t> ids;
    for (int i = 0; i < 3; ++i, q.next()) {
        const std::int64_t id = q.fieldByName(QStringLiteral("KET_ID")).asInteger();
        EXPECT_GE(id, 0);
        EXPECT_LT(id, 1000000000);
        ids.insert(id);
        const QDateTime lisatty = q.fieldByName(QStringLiteral("KET_LISATTY")).asDateTime();
        EXPECT_GE(lisatty, ennen);
        EXPECT_LE(lisatty, jalkeen);
        if (i < 2) {
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TUOTEKOODI")).asText(), fromUtf8("JÄÄHDYTIN-1"));
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TOIMITTAJANRO")).asInteger(), 102);
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_MAARA")).asInteger(), 3);
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TYYPPI")).asInteger(), 1);
        } else {
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TUOTEKOODI")).asText(), QStringLiteral("X-2"));
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TOIMITTAJANRO")).asInteger(), 0);
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_MAARA")).asInteger(), -4);
            EXPECT_EQ(q.fieldByName(QStringLiteral("KET_TYYPPI")).asInteger(), 0);
        }
    }
    EXPECT_EQ(ids.size(), 3u);
}

TEST_P(WarehouseStagingTest, ConcurrentSessionsDrawTheirOwnIds)
{
    constexpr int kSessions = 4;
    constexpr int kRequests = 25;
    std::vector<std::unique_ptr<TServerMethods1>> sessions;
    for (int i = 0; i < kSessions; ++i)
        sessions.push_back(std::make_unique<TServerMethods1>(context));
    std::vector<QStringList> failures(kSessions);
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < kRequests; ++n) {
                const QString tulos = n % 2 ? sessions[i]->LisaaTarratulostus(QStringLiteral("P%1").arg(i), i, n)
                                            : sessions[i]->LisaaHintalappuTulostus(QStringLiteral("P%1").arg(i), i, n);
                if (!tulos.isEmpty())
                    failures[i] << tulos;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const QStringList& f : failures)
        EXPECT_EQ(f, QStringList());
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(DISTINCT KET_ID) FROM KERUUTARRA")), kSessions * kRequests);
}

// Draws from a fixed list, then the process-wide generator again.
class ScriptedKetIds {
public:
    explicit ScriptedKetIds(std::vector<std::int64_t> draws) : draws_(std::move(draws))
    {
        previous_ = replaceKetIdSource([this] {
            ++count;
            return draws_.at(std::min(count - 1, draws_.size() - 1));
        });
    }
    ~ScriptedKetIds() { replaceKetIdSource(previous_); }
    std::size_t count = 0;

private:
    std::vector<std::int64_t> draws_;
    KetIdSource previous_;
};

TEST_P(WarehouseStagingTest, CollidingKetIdIsDrawnAgain)
{
    exec(QStringLiteral("INSERT INTO KERUUTARRA (KET_ID, KET_TUOTEKOODI) VALUES (42, 'VANHA')"));
    {
        ScriptedKetIds draws({42, 42, 77});
        EXPECT_EQ(methods->LisaaTarratulostus(QStringLiteral("UUSI"), 1, 1), QString());
        EXPECT_EQ(draws.count, 3u);
    }
    EXPECT_EQ(text(QStringLiteral("SELECT KET_TUOTEKOODI FROM KERUUTARRA WHERE KET_ID=42")), QStringLiteral("VANHA"));
    EXPECT_EQ(text(QStringLiteral("SELECT KET_TUOTEKOODI FROM KERUUTARRA WHERE KET_ID=77")), QStringLiteral("UUSI"));

    // Only a few draws: a table that keeps refusing ends in the failure text.
    ScriptedKetIds always42({42});
    QString tulos;
    const auto loki = logOf([&] { tulos = methods->LisaaHintalappuTulostus(QStringLiteral("UUSI"), 1, 1); });
    EXPECT_EQ(always42.count, 5u);
    ASSERT_TRUE(tulos.startsWith(fromUtf8("Tarratulostuksen lisääminen epäonnistui (hintalappu). Syy: ")))
        << tulos.toStdString();
    EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), QStringLiteral(" LisaaHintalappuTulostus: ") + tulos);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM KERUUTARRA")), 2);
}

TEST_P(WarehouseStagingTest, OtherRefusalIsNotRetried)
{
    ScriptedKetIds draws({5, 6, 7});
    QString tulos;
    // Too long a code for KET_TUOTEKOODI (30): SQLite takes it, MariaDB refuses it.
    const QString pitka(40, QLatin1Char('A'));
    const auto loki = logOf([&] { tulos = methods->LisaaTarratulostus(pitka, 1, 1); });
    EXPECT_EQ(draws.count, 1u);
    if (onSqlite()) {
        EXPECT_EQ(tulos, QString());
    } else {
        ASSERT_TRUE(tulos.startsWith(fromUtf8("Tarratulostuksen lisääminen epäonnistui (tarra). Syy: ")))
            << tulos.toStdString();
        EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), QStringLiteral(" LisaaTarratulostus: ") + tulos);
    }
}

// --- LisaaInventointirivi ---------------------------------------------------------------

types::TInventointirivi inventointi(const QString& id)
{
    types::TInventointirivi r;
    r.id = id;
    r.toimittajanro = 102;
    r.tuotekoodi = QStringLiteral(" os-3003");
    r.vanha_varastosaldo = 11;
    r.uusi_varastosaldo = 12.5;
    r.keruupaateid = QStringLiteral("PAATE3");
    return r;
}

TEST_P(WarehouseStagingTest, StockCountLogsTheNewBalanceInRegionalForm)
{
    QString tulos;
    const auto loki = logOf([&] { tulos = methods->LisaaInventointirivi(inventointi(QStringLiteral("I1"))); });
    EXPECT_EQ(tulos, QString());
    EXPECT_TRUE(loki.timeTextsOk);
    EXPECT_EQ(loki.rest,
              QStringList{fromUtf8(" Lisätään toimittajan 102 tuotteelle  os-3003 inventointirivi määrällä 12,5.")});
    EXPECT_EQ(row(QStringLiteral("SELECT KEI_TOIMITTAJANRO, KEI_TUOTEKOODI, KEI_VANHAMAARA, "
                                 "KEI_UUSIMAARA, KEI_KERUUPAATEID FROM KERUUINVENTOINTI WHERE KEI_ID='I1'")),
              QStringLiteral("102| os-3003|11|12.5|PAATE3"));
    EXPECT_FALSE(isNull(QStringLiteral("SELECT KEI_LUOTU FROM KERUUINVENTOINTI")));
    EXPECT_FALSE(isNull(QStringLiteral("SELECT KEI_KASITELTY FROM KERUUINVENTOINTI")));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KEI_JATKOKASITELTY FROM KERUUINVENTOINTI")));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KEI_TILA FROM KERUUINVENTOINTI")));
}

TEST_P(WarehouseStagingTest, FailedStockCountLeavesTwoLines)
{
    ASSERT_EQ(methods->LisaaInventointirivi(inventointi(QStringLiteral("I1"))), QString());
    QString tulos;
    const auto loki = logOf([&] { tulos = methods->LisaaInventointirivi(inventointi(QStringLiteral("I1"))); });
    ASSERT_TRUE(tulos.startsWith(fromUtf8("Inventointirivin lisäys epäonnistui. Syy: "))) << tulos.toStdString();
    ASSERT_GE(loki.rest.size(), 2);
    EXPECT_EQ(loki.rest.at(0),
              fromUtf8(" Lisätään toimittajan 102 tuotteelle  os-3003 inventointirivi määrällä 12,5."));
    EXPECT_EQ(loki.rest.mid(1).join(QLatin1Char('\n')), QStringLiteral(" LisaaInventointirivi: ") + tulos);
}

// --- LisaaTuotemuutosrivi ---------------------------------------------------------------

types::TTuotemuutosrivi muutos(const QString& id, std::int32_t halytysraja, std::int32_t optimivarasto)
{
    types::TTuotemuutosrivi r;
    r.id = id;
    r.toimittajanro = 101;
    r.tuotekoodi = QStringLiteral(" jp-1001 ");
    r.nimi = QString::fromUtf8("  Łódź jarrupala Ääkkönen\t");
    r.eankoodi = QStringLiteral(" 6417000100014 ");
    r.hyllypaikka = QString::fromUtf8(" a-12bä\r\n");
    r.halytysraja = halytysraja;
    r.optimivarasto = optimivarasto;
    return r;
}

TEST_P(WarehouseStagingTest, ProductChangeCleansTextsAndNullsMissingNumbers)
{
    const auto loki = logOf([&] {
        EXPECT_EQ(methods->LisaaTuotemuutosrivi(muutos(QStringLiteral("M1"), -9999, 25)), QString());
        EXPECT_EQ(methods->LisaaTuotemuutosrivi(muutos(QStringLiteral("M2"), 0, -9999)), QString());
        EXPECT_EQ(methods->LisaaTuotemuutosrivi(muutos(QStringLiteral("M3"), -9998, -1)), QString());
    });
    EXPECT_TRUE(loki.lines.isEmpty());
    EXPECT_EQ(row(QStringLiteral("SELECT KTM_TOIMITTAJANRO, KTM_TUOTEKOODI, KTM_UUSI_EAN, "
                                 "KTM_UUSIHYLLY, KTM_UUSINIMI FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M1'")),
              fromUtf8("101| jp-1001 |6417000100014|A-12BÄ|Lódz jarrupala Ääkkönen"));
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KTM_UUSIHALY FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M1'")));
    EXPECT_EQ(integer(QStringLiteral("SELECT KTM_UUSIOPTIMI FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M1'")), 25);
    EXPECT_FALSE(isNull(QStringLiteral("SELECT KTM_UUSIHALY FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M2'")));
    EXPECT_EQ(integer(QStringLiteral("SELECT KTM_UUSIHALY FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M2'")), 0);
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KTM_UUSIOPTIMI FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M2'")));
    EXPECT_EQ(integer(QStringLiteral("SELECT KTM_UUSIHALY FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M3'")), -9998);
    EXPECT_EQ(integer(QStringLiteral("SELECT KTM_UUSIOPTIMI FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M3'")), -1);
    EXPECT_TRUE(isNull(QStringLiteral("SELECT KTM_JATKOKASITELTY FROM KERUUTUOTEMUUTOS WHERE KTM_ID='M3'")));
}

}  // namespace

KRP_INSTANTIATE_ON_BACKENDS(WarehouseStagingTest);
