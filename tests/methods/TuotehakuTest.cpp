// The multi-phase product search: EAN code, product code, type code, the first phase with
// rows ends the search; the open-order search needs an open purchase-order line.
#include "WarehouseFixture.h"
#include "log/ClientText.h"

using namespace krp;
using krp::test::WarehouseTest;

namespace {

class TuotehakuTest : public WarehouseTest {
protected:
    void SetUp() override
    {
        WarehouseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // "111" is the EAN code of A-1 and the product code of 111; "SUOD" a type code only.
        tuote(QStringLiteral("A-1"), 1, QStringLiteral("Jarrupala"), QStringLiteral("111"), QStringLiteral("JARRU"));
        tuote(QStringLiteral("111"), 2, QStringLiteral("Numerokoodi"), QStringLiteral("900"), QStringLiteral("MUU"));
        tuote(QStringLiteral("S-1"), 1, QStringLiteral("Suodatin 1"), QStringLiteral("201"), QStringLiteral("SUOD"));
        tuote(QStringLiteral("S-2"), 2, QStringLiteral("Suodatin 2"), QStringLiteral("202"), QStringLiteral("SUOD"));
        tuote(QStringLiteral("ÄÖ-1"), 1, QStringLiteral("Ääkköstuote"), QStringLiteral("301"), QStringLiteral("MUU"));
        tuote(QStringLiteral("TOIM-1"), 1, QStringLiteral("Toimitettu"), QStringLiteral("401"), QStringLiteral("MUU"));
        varasto(QStringLiteral("A-1"), 1, 5);
        // Open lines (two for A-1: still listed once), and a line delivered and cancelled in full.
        tilausrivi(1, 1, QStringLiteral("A-1"), 1, QStringLiteral("10"), QStringLiteral("4"), QStringLiteral("0"));
        tilausrivi(1, 2, QStringLiteral("A-1"), 1, QStringLiteral("3"), QStringLiteral("NULL"), QStringLiteral("NULL"));
        tilausrivi(1, 3, QStringLiteral("111"), 2, QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("0"));
        tilausrivi(1, 4, QStringLiteral("S-1"), 1, QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("0"));
        tilausrivi(2, 1, QStringLiteral("S-2"), 2, QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("0"));
        tilausrivi(2, 2, QStringLiteral("ÄÖ-1"), 1, QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("0"));
        tilausrivi(2, 3, QStringLiteral("TOIM-1"), 1, QStringLiteral("5"), QStringLiteral("3"), QStringLiteral("2"));
    }

    QString hae(bool normaali, int toimittaja, const QString& koodi)
    {
        return normaali ? methods->MonivaiheinenTuotehakuNormaali(toimittaja, koodi)
                        : methods->MonivaiheinenTuotehaku(toimittaja, koodi);
    }

    // Product codes of the rows left open for dspTuotelista, with their supplier.
    QStringList loydetyt()
    {
        db::Query* q = methods->provider(QStringLiteral("dspTuotelista"));
        QStringList out;
        for (q->first(); !q->eof(); q->next())
            out << q->fieldByName(QStringLiteral("TP_TUOTEKOODI")).asText() + QLatin1Char('/') +
                       q->fieldByName(QStringLiteral("TP_TOIMITTAJANRO")).asText();
        out.sort();
        return out;
    }
};

struct HakuCase {
    const char* name;
    int toimittaja;
    const char* koodi;
    QStringList vaiheet;  // phase words logged, in order
    bool loytyi;
    QStringList rivit;  // found products, sorted
};

QStringList words(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* w : list)
        out << QString::fromUtf8(w);
    return out;
}

const HakuCase kHakuCases[] = {
    {"EanWinsOverProductCode", 0, "111", words({"eankoodi"}), true, words({"A-1/1"})},
    {"ProductCodeInSecondPhase", 0, "a-1", words({"eankoodi", "tuotekoodi"}), true, words({"A-1/1"})},
    {"TypeCodeInThirdPhase", 0, "SUOD", words({"eankoodi", "tuotekoodi", "tyyppikoodi"}), true,
     words({"S-1/1", "S-2/2"})},
    {"SupplierLimitsRows", 2, "SUOD", words({"eankoodi", "tuotekoodi", "tyyppikoodi"}), true, words({"S-2/2"})},
    {"OtherSupplierFindsNothing", 3, "111", words({"eankoodi", "tuotekoodi", "tyyppikoodi"}), false, {}},
    {"NotFoundAnywhere", 0, "EI-OLE", words({"eankoodi", "tuotekoodi", "tyyppikoodi"}), false, {}},
    {"TrimmedAndUpperCased", 0, " \täö-1 \t", words({"eankoodi", "tuotekoodi"}), true, words({"ÄÖ-1/1"})},
    {"EmptyCode", 0, "", words({"eankoodi", "tuotekoodi", "tyyppikoodi"}), false, {}},
};

TEST_P(TuotehakuTest, PhasesStopAtFirstHitAndLogInOrder)
{
    for (const bool normaali : {false, true}) {
        for (const HakuCase& c : kHakuCases) {
            SCOPED_TRACE(std::string(c.name) + (normaali ? " (normaali)" : ""));
            const QString koodi = QString::fromUtf8(c.koodi);
            QString tulos = QStringLiteral("ei kutsuttu");
            const auto loki = logOf([&] { tulos = hae(normaali, c.toimittaja, koodi); });
            EXPECT_EQ(tulos, QString());
            EXPECT_TRUE(loki.timeTextsOk) << loki.lines.join(QLatin1Char('\n')).toStdString();

            const QString alku = normaali ? QStringLiteral(": Monivaiheinen tuotehaku normaali: ")
                                          : QStringLiteral(": Monivaiheinen tuotehaku: ");
            QStringList odotettu{alku + QStringLiteral("toimittajanro=") + QString::number(c.toimittaja) +
                                 QStringLiteral(" hakukoodi=") + logSafe(koodi)};
            for (const QString& vaihe : c.vaiheet)
                odotettu << alku + vaihe;
            odotettu << (normaali ? QStringLiteral(": Monivaiheinen tuotteita löytyi normaali: ")
                                  : QStringLiteral(": Monivaiheinen tuotteita löytyi: ")) +
                            (c.loytyi ? QStringLiteral("True") : QStringLiteral("False"));
            // The client's code stands escaped (a tab as \t, a line break as \n) on the one line.
            EXPECT_EQ(loki.rest.join(QLatin1Char('\n')), odotettu.join(QLatin1Char('\n')));
            EXPECT_EQ(loydetyt(), c.rivit);
        }
    }
}

TEST_P(TuotehakuTest, OpenOrderSearchNeedsOpenQuantity)
{
    // TOIM-1: ordered 5, delivered 3, cancelled 2.
    EXPECT_EQ(methods->MonivaiheinenTuotehaku(0, QStringLiteral("TOIM-1")), QString());
    EXPECT_EQ(loydetyt(), QStringList());
    EXPECT_EQ(methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("TOIM-1")), QString());
    EXPECT_EQ(loydetyt(), QStringList{QStringLiteral("TOIM-1/1")});
}

TEST_P(TuotehakuTest, RowsCarryTheFiveColumnsOnceEach)
{
    ASSERT_EQ(methods->MonivaiheinenTuotehaku(1, QStringLiteral("A-1")), QString());
    db::Query* q = methods->provider(QStringLiteral("dspTuotelista"));
    ASSERT_EQ(q->recordCount(), 1);  // two open lines, one row
    QStringList sarakkeet;
    for (const db::Column& c : q->result().columns)
        sarakkeet << c.name.toUpper();
    EXPECT_EQ(sarakkeet, (QStringList{QStringLiteral("TP_TUOTEKOODI"), QStringLiteral("TP_TOIMITTAJANRO"),
                                      QStringLiteral("TP_NIMI"), QStringLiteral("TP_TYYPPIKOODI"),
                                      QStringLiteral("TV_VARASTOSSA")}));
    EXPECT_EQ(q->fieldByName(QStringLiteral("TV_VARASTOSSA")).asFloat(), 5.0);

    // Without a stock row the stock column is null.
    ASSERT_EQ(methods->MonivaiheinenTuotehakuNormaali(2, QStringLiteral("111")), QString());
    ASSERT_EQ(q->recordCount(), 1);
    EXPECT_EQ(q->fieldByName(QStringLiteral("TP_TUOTEKOODI")).asText(), QStringLiteral("111"));
    EXPECT_TRUE(q->fieldByName(QStringLiteral("TV_VARASTOSSA")).isNull());
}

TEST_P(TuotehakuTest, FailureEndsSearchWithOneFailureLine)
{
    exec(QStringLiteral("DROP TABLE OSTOTILRIV"));
    QString tulos;
    const auto loki = logOf([&] { tulos = methods->MonivaiheinenTuotehaku(0, QStringLiteral("111")); });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Tuotehaku epäonnistui. Syy: "))) << tulos.toStdString();
    EXPECT_GT(tulos.size(), QStringLiteral("Tuotehaku epäonnistui. Syy: ").size());
    EXPECT_TRUE(loki.timeTextsOk);
    EXPECT_EQ(
        loki.rest.join(QLatin1Char('\n')),
        QStringLiteral(": Monivaiheinen tuotehaku: toimittajanro=0 hakukoodi=111\n MonivaiheinenTuotehaku: ") + tulos);

    // The search regardless of orders does not read the dropped table.
    EXPECT_EQ(methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("111")), QString());
    EXPECT_EQ(loydetyt(), QStringList{QStringLiteral("A-1/1")});

    exec(QStringLiteral("DROP TABLE TUOTVAIH"));
    const auto loki2 = logOf([&] { tulos = methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("111")); });
    ASSERT_TRUE(tulos.startsWith(QStringLiteral("Tuotehaku (normaali) epäonnistui. Syy: "))) << tulos.toStdString();
    EXPECT_EQ(loki2.rest.join(QLatin1Char('\n')),
              QStringLiteral(": Monivaiheinen tuotehaku normaali: toimittajanro=0 hakukoodi=111\n"
                             " MonivaiheinenTuotehaku normaali: ") +
                  tulos);
}

TEST_P(TuotehakuTest, SessionsKeepTheirOwnRows)
{
    TServerMethods1 toinen(context);
    ASSERT_EQ(methods->MonivaiheinenTuotehaku(0, QStringLiteral("111")), QString());
    ASSERT_EQ(toinen.MonivaiheinenTuotehakuNormaali(0, QStringLiteral("SUOD")), QString());
    EXPECT_EQ(loydetyt(), QStringList{QStringLiteral("A-1/1")});
    EXPECT_EQ(toinen.provider(QStringLiteral("dspTuotelista"))->recordCount(), 2);
}

}  // namespace

KRP_INSTANTIATE_ON_BACKENDS(TuotehakuTest);
