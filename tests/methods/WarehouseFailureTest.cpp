// A database that is not there: every method that reports failure in its result returns its
// own failure text with the database's message, and writes exactly one failure line after the
// progress lines it wrote before the failing statement.
#include "WarehouseFixture.h"

#include "db/Database.h"

using namespace krp;

namespace {

class WarehouseFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::warehouseTestApp();
        EventLog::setInstance(&log);
        context.database = &suljettu;
        methods = std::make_unique<TServerMethods1>(context);
    }
    void TearDown() override { EventLog::setInstance(nullptr); }

    EventLog log;
    db::Database suljettu;  // never opened
    ServiceContext context;
    std::unique_ptr<TServerMethods1> methods;
};

struct FailureCase {
    const char* name;
    std::function<QString(TServerMethods1&)> call;
    const char* failureText;
    const char* tag;
    std::vector<const char*> progress;  // lines written before the failure, without time text
};

TEST_F(WarehouseFailureTest, EveryTextMethodReportsInItsResultAndOneLogLine)
{
    const FailureCase cases[] = {
        {"MonivaiheinenTuotehaku",
         [](TServerMethods1& m) { return m.MonivaiheinenTuotehaku(5, QStringLiteral("abc")); },
         "Tuotehaku epäonnistui. Syy: ",
         " MonivaiheinenTuotehaku: ",
         {": Monivaiheinen tuotehaku: toimittajanro=5 hakukoodi=abc"}},
        {"MonivaiheinenTuotehakuNormaali",
         [](TServerMethods1& m) { return m.MonivaiheinenTuotehakuNormaali(0, QStringLiteral(" x ")); },
         "Tuotehaku (normaali) epäonnistui. Syy: ",
         " MonivaiheinenTuotehaku normaali: ",
         {": Monivaiheinen tuotehaku normaali: toimittajanro=0 hakukoodi= x "}},
        {"Tuotetiedot",
         [](TServerMethods1& m) { return m.Tuotetiedot(QStringLiteral("JP"), 7, QStringLiteral("TP_NIMI")); },
         "Tuotetietojen haku epäonnistui. Syy: ",
         " Tuotetiedot: ",
         {" Tuotetiedot haetaan toimittajan 7 tuotteelle JP"}},
        {"TuotetyypinTuotteet",
         [](TServerMethods1& m) { return m.TuotetyypinTuotteet(QStringLiteral("T")); },
         "Tuotetyypin tuotteiden listaaminen epäonnistui. Syy: ",
         " TuotetyypinTuotteet: ",
         {}},
        {"TuotteenOstotilausrivit",
         [](TServerMethods1& m) { return m.TuotteenOstotilausrivit(QStringLiteral("T"), 1); },
         "Tuotteen avointen ostotilausrivien listaaminen epäonnistui. Syy: ",
         " TuotteenOstotilausrivit: ",
         {}},
        {"TuotettaVarastoonkirjausjonossa",
         [](TServerMethods1& m) {
             std::int32_t maara = 9;
             QString tulos = m.TuotettaVarastoonkirjausjonossa(QStringLiteral("T"), 1, 2, maara);
             EXPECT_EQ(maara, 9);
             return tulos;
         },
         "Tuotteen varastoonvarastoonkirjausjonon tilan selvitys epäonnistui. Syy: ",
         " TuotettaVarastoonkirjausjonossa: ",
         {}},
        {"HaeToimittajanimi",
         [](TServerMethods1& m) { return m.HaeToimittajanimi(101); },
         "Toimittajan nimen selvitys epäonnistui. Syy: ",
         " HaeToimittajanimi: ",
         {}},
        {"LisaaVarastoontulorivit",
         [](TServerMethods1& m) { return m.LisaaVarastoontulorivit(TObjectList<types::TVarastoontulorivi>(1)); },
         "Varastoontulorivien lisäys epäonnistui. Syy: ",
         " LisaaVarastoontulorivit: ",
         {}},
        {"LisaaKerailyrivit",
         [](TServerMethods1& m) { return m.LisaaKerailyrivit(TObjectList<types::TKerailyrivi>(1)); },
         "Keräilyrivien lisäys epäonnistui. Syy: ",
         " LisaaKerailyrivit: ",
         {}},
        {"LisaaTarratulostus",
         [](TServerMethods1& m) { return m.LisaaTarratulostus(QStringLiteral("T"), 1, 1); },
         "Tarratulostuksen lisääminen epäonnistui (tarra). Syy: ",
         " LisaaTarratulostus: ",
         {}},
        {"LisaaHintalappuTulostus",
         [](TServerMethods1& m) { return m.LisaaHintalappuTulostus(QStringLiteral("T"), 1, 1); },
         "Tarratulostuksen lisääminen epäonnistui (hintalappu). Syy: ",
         " LisaaHintalappuTulostus: ",
         {}},
        {"LisaaInventointirivi",
         [](TServerMethods1& m) { return m.LisaaInventointirivi(types::TInventointirivi{}); },
         "Inventointirivin lisäys epäonnistui. Syy: ",
         " LisaaInventointirivi: ",
         {" Lisätään toimittajan 0 tuotteelle  inventointirivi määrällä 0."}},
        {"LisaaTuotemuutosrivi",
         [](TServerMethods1& m) { return m.LisaaTuotemuutosrivi(types::TTuotemuutosrivi{}); },
         "Tuotemuutosrivin lisäys epäonnistui. Syy: ",
         " LisaaTuotemuutosrivi: ",
         {}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int alussa = log.lineCount();
        const QString ennen = nowText();
        const QString tulos = c.call(*methods);
        const QString jalkeen = nowText();
        const QStringList rivit = log.lines().mid(alussa);

        const QString failureText = QString::fromUtf8(c.failureText);
        ASSERT_TRUE(tulos.startsWith(failureText)) << tulos.toStdString();
        EXPECT_GT(tulos.size(), failureText.size()) << "the database's message follows the failure text";

        QStringList odotettu;
        for (const char* p : c.progress)
            odotettu << QString::fromUtf8(p);
        odotettu << QString::fromUtf8(c.tag) + tulos;
        ASSERT_EQ(rivit.size(), odotettu.size()) << rivit.join(QLatin1Char('\n')).toStdString();
        for (int i = 0; i < rivit.size(); ++i)
            EXPECT_TRUE(rivit.at(i) == ennen + odotettu.at(i) || rivit.at(i) == jalkeen + odotettu.at(i))
                << rivit.at(i).toStdString();
    }
}

TEST_F(WarehouseFailureTest, StockCountWarningRaisesInstead)
{
    EXPECT_THROW(methods->InventointiIlmoitus(QStringLiteral("T"), 1), std::exception);
    EXPECT_EQ(log.lineCount(), 0);
}

}  // namespace
