// Work lines added to a work order: the customer slot, the customer's discount, numbering,
// pricing, every column of the line, the totals, the log lines, failures and completion.
#include "WorkshopFixture.h"

#include "types/DateTimeValue.h"

#include <latch>
#include <set>
#include <thread>

namespace krp::test {
namespace {

const QString kTag = QStringLiteral(": LisaaTyovaiheTyomaaraykselle: ");

// 80.00 an hour for 1.5 hours, bought in at 30.00; the client's discount of 55 is never used.
types::TTyorivi tuntirivi(std::int32_t asiakasnro)
{
    types::TTyorivi rivi;
    rivi.asiakasnro = asiakasnro;
    rivi.tyokoodi = QStringLiteral("KORI");
    rivi.tehtava = QStringLiteral("Takaluukun säätö");
    rivi.tuntiveloitus = 80;
    rivi.laskutettuaika = 1.5;
    rivi.ostohinta = 30;
    rivi.alepros = 55;
    rivi.rivisumma = 999;
    rivi.kate = 999;
    rivi.rivinro = 42;
    rivi.jro = 77;
    return rivi;
}

struct Loppusummat {
    double yhteensa = 0, tyo = 0, tyo1 = 0, tyo2 = 0, tyo3 = 0;
};

class TyorivitTest : public WorkshopTest {
protected:
    void SetUp() override
    {
        WorkshopTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Work orders for the customer-slot rules; 4242 has no customer row, 3100 a full discount.
        testDb().execute(QStringLiteral(
            "INSERT INTO ASIAKPER (AP_ASIAKASNRO, AP_NIMI, AP_TOIDENALEPROS) VALUES (3100, 'Takuu', 100);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30001, "
            "'AVOIN', 1000, 1001, 0);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30002, "
            "'AVOIN', 1000, NULL, NULL);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30003, "
            "'AVOIN', 1001, 0, 1001);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30004, "
            "'AVOIN', 1002, 1006, 1004);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30005, "
            "'AVOIN', 4242, 0, 0);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO, TYO_ASIAKASNRO2, TYO_ASIAKASNRO3) VALUES (30006, "
            "'AVOIN', 3100, 0, 0);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_ASIAKASNRO) VALUES (30010, 'AVOIN', 1000)"));
    }

    Loppusummat loppusummat(std::int32_t nro)
    {
        db::Query q(db());
        q.setSql({QStringLiteral("SELECT TYO_YHTEENSA, TYO_YHTEENSA_TYO, TYO_YHTEENSA_TYO1, TYO_YHTEENSA_TYO2, "
                                 "TYO_YHTEENSA_TYO3 FROM MAARPER WHERE TYO_NRO=%1")
                      .arg(nro)});
        q.open();
        return {q.field(0).asFloat(), q.field(1).asFloat(), q.field(2).asFloat(), q.field(3).asFloat(),
                q.field(4).asFloat()};
    }

    std::int64_t riveja(std::int32_t nro)
    {
        return integer(QStringLiteral("SELECT COUNT(*) FROM MAARTYO WHERE MTR_NRO=%1").arg(nro));
    }

    // Fails the totals update (or the insert of a line with work code KAATUU) in the database.
    void refuse(const QString& name, const QString& table, const QString& timing, const QString& condition)
    {
        if (onSqlite()) {
            executeOne(
                QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 WHEN %4 BEGIN SELECT RAISE(ABORT, '%1 torjui'); END")
                    .arg(name, timing, table, condition));
        } else {
            executeOne(QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW BEGIN IF %4 THEN "
                                      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = '%1 torjui'; END IF; END")
                           .arg(name, timing, table, condition));
        }
    }
};

TEST_P(TyorivitTest, CustomerSlotDiscountAndTotals)
{
    struct Case {
        const char* name;
        std::int32_t tyomaaraysnro;
        std::int32_t asiakasnro;  // what the client asks for
        char paikka;
        std::int32_t asiakas;  // MTR_ASIAKASNRO
        double alepros;
        double rivisumma;
    };
    const Case cases[] = {
        {"customer_in_slot_2", 30001, 1001, '2', 1001, 10, 108},
        {"customer_in_slot_1", 30001, 1000, '1', 1000, 0, 120},
        {"no_customer_goes_to_slot_2", 30001, 0, '2', 1001, 10, 108},
        {"unknown_customer_goes_to_slot_2", 30001, 9999, '2', 1001, 10, 108},
        {"no_second_customer_slot_1", 30002, 0, '1', 1000, 0, 120},
        {"unknown_customer_slot_1", 30002, 9999, '1', 1000, 0, 120},
        {"slot_1_before_slot_3", 30003, 1001, '1', 1001, 10, 108},
        {"customer_in_slot_3", 30004, 1004, '3', 1004, 0, 120},
        {"discount_of_slot_2_customer", 30004, 1006, '2', 1006, 20, 96},
        {"customer_without_row_no_discount", 30005, 0, '1', 4242, 0, 120},
        {"full_discount_still_a_line", 30006, 3100, '1', 3100, 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loppusummat ennen = loppusummat(c.tyomaaraysnro);
        const std::int64_t rivinro = riveja(c.tyomaaraysnro) + 1;
        const int lines = static_cast<int>(logLines().size());

        EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(c.tyomaaraysnro, tuntirivi(c.asiakasnro)), rivinro);

        const QString where =
            QStringLiteral(" FROM MAARTYO WHERE MTR_NRO=%1 AND MTR_RIVINRO=%2").arg(c.tyomaaraysnro).arg(rivinro);
        EXPECT_EQ(integer(QStringLiteral("SELECT MTR_ASIAKASNRO") + where), c.asiakas);
        EXPECT_EQ(real(QStringLiteral("SELECT MTR_ALEPROS") + where), c.alepros);
        EXPECT_EQ(real(QStringLiteral("SELECT MTR_RIVISUMMA") + where), c.rivisumma);
        EXPECT_EQ(real(QStringLiteral("SELECT MTR_KATE") + where), 75.0);  // (80 - 30) x 1.5, never discounted

        const Loppusummat jalkeen = loppusummat(c.tyomaaraysnro);
        EXPECT_DOUBLE_EQ(jalkeen.yhteensa, ennen.yhteensa + c.rivisumma);
        EXPECT_DOUBLE_EQ(jalkeen.tyo, ennen.tyo + c.rivisumma);
        EXPECT_DOUBLE_EQ(jalkeen.tyo1, ennen.tyo1 + (c.paikka == '1' ? c.rivisumma : 0));
        EXPECT_DOUBLE_EQ(jalkeen.tyo2, ennen.tyo2 + (c.paikka == '2' ? c.rivisumma : 0));
        EXPECT_DOUBLE_EQ(jalkeen.tyo3, ennen.tyo3 + (c.paikka == '3' ? c.rivisumma : 0));

        const QStringList log = logLines();
        ASSERT_EQ(log.size(), lines + 4);
        EXPECT_TRUE(
            isLogLine(log[lines + 1], kTag + QStringLiteral("Rivi asiakkaalle (1/2/3): ") + QLatin1Char(c.paikka)));
    }
}

TEST_P(TyorivitTest, HourlyLineOnAWorkOrderWithLines)
{
    const QString muutettuEnnen = text(QStringLiteral("SELECT TYO_MUUTETTU FROM MAARPER WHERE TYO_NRO=10002"));
    // Work order 10002: customer 1001 with a discount of 10, lines 1 and 2 with JNRO 1000 and 2000.
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, tuntirivi(0)), 3);

    const QString where = QStringLiteral(" FROM MAARTYO WHERE MTR_NRO=10002 AND MTR_RIVINRO=3");
    EXPECT_EQ(integer(QStringLiteral("SELECT JNRO") + where), 3000);
    EXPECT_EQ(real(QStringLiteral("SELECT MTR_RIVISUMMA") + where), 108.0);
    EXPECT_EQ(real(QStringLiteral("SELECT MTR_ALEPROS") + where), 10.0);
    const Loppusummat summat = loppusummat(10002);
    EXPECT_DOUBLE_EQ(summat.yhteensa, 193.05 + 108);
    EXPECT_DOUBLE_EQ(summat.tyo, 193.05 + 108);
    EXPECT_DOUBLE_EQ(summat.tyo1, 193.05 + 108);
    EXPECT_DOUBLE_EQ(summat.tyo2, 0);
    EXPECT_NE(text(QStringLiteral("SELECT TYO_MUUTETTU FROM MAARPER WHERE TYO_NRO=10002")), muutettuEnnen);

    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 4);
    EXPECT_TRUE(isLogLine(log[0], kTag + QStringLiteral("tyomaaraysnro=10002 tyokoodi=KORI tehtava=Takaluukun säätö")));
    EXPECT_TRUE(isLogLine(log[1], kTag + QStringLiteral("Rivi asiakkaalle (1/2/3): 1")));
    EXPECT_TRUE(isLogLine(
        log[2], kTag + QStringLiteral("Työrivi lisätty työmääräykselle: 10002 rivinro: 3 JNRO: 77 työkoodi: KORI")));
    EXPECT_TRUE(isLogLine(log[3], kTag + QStringLiteral("Työmääräyksen loppusummaa kasvatettu 108") +
                                      QLocale::system().decimalPoint() + QStringLiteral("00")));
}

TEST_P(TyorivitTest, EveryFieldReachesItsColumn)
{
    types::TTyorivi rivi;
    rivi.nro = 12345;  // not used: the work order is the argument
    rivi.rivinro = 42;
    rivi.suorittaja = QStringLiteral("ÅSA");
    rivi.asiakasnro = 1000;
    rivi.tyokoodi = QStringLiteral("ÖLJY");
    rivi.ajoneuvokoodi = QStringLiteral("VOLVO");
    rivi.tyoluokka = QStringLiteral("B");
    rivi.tehtava = QStringLiteral(" Öljynvaihto ");
    rivi.lisateksti = QString();
    rivi.selvitys = QStringLiteral("Suodatin vaihdettu");
    rivi.aloitettupvm = 0;  // the zero date-time is written as it is
    rivi.valmispvm = types::toTDateTime(QDateTime(QDate(2026, 12, 9), QTime(10, 15, 30)));
    rivi.arvioaika = 1.25;
    rivi.suoritettuaika = 0.75;
    rivi.laskutettuaika = 1;
    rivi.tuntiveloitus = 78;
    rivi.kiinteahinta = 0.125;  // a fixed price: 0.125 x 1 is 0.12, the half cent to the even one
    rivi.kpl = 1;
    rivi.alepros = 40;
    rivi.ale = 2.5;
    rivi.verokanta = 24;
    rivi.jro = 3;
    rivi.tyyppi = 2;
    rivi.pakettitunnus = 17;
    rivi.ostohinta = 0.05;
    rivi.debet = -1;
    rivi.vaurionro = -5;
    rivi.tyopakkoodi = QStringLiteral("TP1");
    rivi.viite = QStringLiteral("2026-4471");
    rivi.cabaskoodi = QStringLiteral("CB");
    rivi.tyopakhakunro = -300;
    rivi.rivityyppi = QStringLiteral("T");

    ASSERT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(30010, rivi), 1);

    db::Query q(db());
    q.setSql({QStringLiteral("SELECT * FROM MAARTYO WHERE MTR_NRO=30010 AND MTR_RIVINRO=1")});
    q.open();
    ASSERT_EQ(q.recordCount(), 1);
    auto f = [&q](const char* name) { return q.fieldByName(QLatin1String(name)); };
    EXPECT_EQ(f("MTR_SUORITTAJA").asText(), QStringLiteral("ÅSA"));
    EXPECT_EQ(f("MTR_ASIAKASNRO").asInteger(), 1000);
    EXPECT_EQ(f("MTR_TYOKOODI").asText(), QStringLiteral("ÖLJY"));
    EXPECT_EQ(f("MTR_AJONEUVOKOODI").asText(), QStringLiteral("VOLVO"));
    EXPECT_EQ(f("MTR_TYOLUOKKA").asText(), QStringLiteral("B"));
    EXPECT_EQ(f("MTR_TEHTAVA").asText(), QStringLiteral(" Öljynvaihto "));
    EXPECT_EQ(f("MTR_LISATEKSTI").asText(), QString());
    EXPECT_EQ(f("MTR_SELVITYS").asText(), QStringLiteral("Suodatin vaihdettu"));
    EXPECT_EQ(f("MTR_ALOITETTUPVM").asDateTime(), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_EQ(f("MTR_VALMISPVM").asDateTime(), QDateTime(QDate(2026, 12, 9), QTime(10, 15, 30)));
    EXPECT_EQ(f("MTR_ARVIOAIKA").asFloat(), 1.25);
    EXPECT_EQ(f("MTR_SUORITETTUAIKA").asFloat(), 0.75);
    EXPECT_EQ(f("MTR_LASKUTETTUAIKA").asFloat(), 1.0);
    EXPECT_EQ(f("MTR_TUNTIVELOITUS").asFloat(), 78.0);
    EXPECT_EQ(f("MTR_KIINTEAHINTA").asFloat(), 0.125);
    EXPECT_EQ(f("MTR_ALEPROS").asFloat(), 0.0);  // customer 1000 has none
    EXPECT_EQ(f("MTR_ALE").asFloat(), 2.5);
    EXPECT_EQ(f("MTR_RIVISUMMA").asFloat(), 0.12);
    EXPECT_EQ(f("MTR_VEROKANTA").asInteger(), 24);
    EXPECT_EQ(f("JNRO").asInteger(), 1000);
    EXPECT_EQ(f("MTR_KPL").asFloat(), 1.0);
    EXPECT_EQ(f("MTR_TYYPPI").asInteger(), 2);
    EXPECT_EQ(f("MTR_PAKETTITUNNUS").asInteger(), 17);
    EXPECT_EQ(f("MTR_OSTOHINTA").asFloat(), 0.05);
    EXPECT_DOUBLE_EQ(f("MTR_KATE").asFloat(), 0.075);
    EXPECT_EQ(f("MTR_DEBET").asInteger(), -1);
    EXPECT_EQ(f("MTR_VAURIONRO").asInteger(), -5);
    EXPECT_EQ(f("MTR_TYOPAKKOODI").asText(), QStringLiteral("TP1"));
    EXPECT_EQ(f("MTR_VIITE").asText(), QStringLiteral("2026-4471"));
    EXPECT_EQ(f("MTR_CABASKOODI").asText(), QStringLiteral("CB"));
    EXPECT_EQ(f("MTR_TYOPAKHAKUNRO").asInteger(), -300);
    EXPECT_EQ(f("MTR_RIVITYYPPI").asText(), QStringLiteral("T"));

    const Loppusummat summat = loppusummat(30010);
    EXPECT_DOUBLE_EQ(summat.yhteensa, 0.12);
    EXPECT_DOUBLE_EQ(summat.tyo1, 0.12);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 4);
    EXPECT_TRUE(isLogLine(log[3], kTag + QStringLiteral("Työmääräyksen loppusummaa kasvatettu 0") +
                                      QLocale::system().decimalPoint() + QStringLiteral("12")));
}

TEST_P(TyorivitTest, RowNumberAndJnroFollowTheHighest)
{
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(30010, tuntirivi(0)), 1);
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(30010, tuntirivi(0)), 2);
    EXPECT_EQ(integer(QStringLiteral("SELECT JNRO FROM MAARTYO WHERE MTR_NRO=30010 AND MTR_RIVINRO=1")), 1000);
    EXPECT_EQ(integer(QStringLiteral("SELECT JNRO FROM MAARTYO WHERE MTR_NRO=30010 AND MTR_RIVINRO=2")), 2000);

    // Another writer added row 7 with JNRO 5500.
    testDb().execute(QStringLiteral("INSERT INTO MAARTYO (MTR_NRO, MTR_RIVINRO, JNRO) VALUES (30010, 7, 5500)"));
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(30010, tuntirivi(0)), 8);
    EXPECT_EQ(integer(QStringLiteral("SELECT JNRO FROM MAARTYO WHERE MTR_NRO=30010 AND MTR_RIVINRO=8")), 6500);
}

TEST_P(TyorivitTest, ConcurrentLinesOnOneWorkOrderGetTheirOwnNumbersAndSums)
{
    constexpr int kThreads = 10;
    std::vector<std::unique_ptr<TServerMethods1>> sessions;
    for (int i = 0; i < kThreads; ++i)
        sessions.push_back(session(QStringLiteral("MEKAANIKKO%1").arg(i)));
    std::vector<std::int32_t> nrot(kThreads, 0);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            nrot[i] = sessions[i]->LisaaTyovaiheTyomaaraykselle(30010, tuntirivi(0));
        });
    }
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(std::set<std::int32_t>(nrot.begin(), nrot.end()),
              (std::set<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(riveja(30010), kThreads);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(DISTINCT JNRO) FROM MAARTYO WHERE MTR_NRO=30010")), kThreads);
    EXPECT_DOUBLE_EQ(loppusummat(30010).yhteensa, 120.0 * kThreads);
    EXPECT_EQ(waitForLogLines(4 * kThreads).size(), 4 * kThreads);
}

// --- failures ----------------------------------------------------------------------------------

TEST_P(TyorivitTest, WorkOrderThatDoesNotExistGetsNoLine)
{
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(99999, tuntirivi(1000)), 0);
    EXPECT_EQ(riveja(99999), 0);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(isLogLine(log[0], kTag + QStringLiteral("tyomaaraysnro=99999 tyokoodi=KORI tehtava=Takaluukun säätö")));
    EXPECT_TRUE(
        isLogLine(log[1], kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: Työmääräystä 99999 ei löydy.")));
}

TEST_P(TyorivitTest, MissingLineIsAFailure)
{
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, std::nullopt), 0);
    EXPECT_EQ(riveja(10002), 2);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(isLogLine(log[0], kTag + QStringLiteral("tyomaaraysnro=10002 tyokoodi= tehtava=")));
    EXPECT_TRUE(isLogLine(log[1], kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: Työriviä ei annettu.")));
}

TEST_P(TyorivitTest, SumBeyondTheRangeOfARealIsRefused)
{
    types::TTyorivi rivi = tuntirivi(0);
    rivi.tuntiveloitus = 1e200;
    rivi.laskutettuaika = 1e200;
    const Loppusummat ennen = loppusummat(10002);
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, rivi), 0);
    EXPECT_EQ(riveja(10002), 2);
    EXPECT_EQ(loppusummat(10002).yhteensa, ennen.yhteensa);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(isLogLine(log[1], kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: "
                                                        "Työrivin summaa ei voi laskea: luvut ovat liian suuria.")));
}

TEST_P(TyorivitTest, DatabaseFailureGivesZeroAndOneFailureLine)
{
    db().close();
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, tuntirivi(0)), 0);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    const QString failure = kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: ");
    const qsizetype at = log[1].indexOf(failure);
    ASSERT_GT(at, 0) << log[1].toStdString();
    EXPECT_TRUE(isLogLine(log[1], log[1].mid(at)));
    EXPECT_GT(log[1].size(), at + failure.size());
}

TEST_P(TyorivitTest, FailedTotalsTakeTheLineBackToo)
{
    refuse(QStringLiteral("summat_lukossa"), QStringLiteral("MAARPER"), QStringLiteral("UPDATE"),
           QStringLiteral("NEW.TYO_NRO = 10002"));
    const Loppusummat ennen = loppusummat(10002);
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, tuntirivi(0)), 0);
    EXPECT_EQ(riveja(10002), 2);
    const Loppusummat jalkeen = loppusummat(10002);
    EXPECT_EQ(jalkeen.yhteensa, ennen.yhteensa);
    EXPECT_EQ(jalkeen.tyo1, ennen.tyo1);

    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 3);  // start, slot, failure: no line claims the work line was added
    EXPECT_TRUE(log[2].contains(kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: ")));
    EXPECT_TRUE(log[2].contains(QStringLiteral("summat_lukossa torjui"))) << log[2].toStdString();

    // The next line gets the number the failed one would have had.
    executeOne(QStringLiteral("DROP TRIGGER summat_lukossa"));
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, tuntirivi(0)), 3);
}

TEST_P(TyorivitTest, FailedInsertLeavesTheTotals)
{
    refuse(QStringLiteral("rivi_torjutaan"), QStringLiteral("MAARTYO"), QStringLiteral("INSERT"),
           QStringLiteral("NEW.MTR_TYOKOODI = 'KORI'"));
    const Loppusummat ennen = loppusummat(10002);
    EXPECT_EQ(methods_->LisaaTyovaiheTyomaaraykselle(10002, tuntirivi(0)), 0);
    EXPECT_EQ(riveja(10002), 2);
    EXPECT_EQ(loppusummat(10002).yhteensa, ennen.yhteensa);
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 3);
    EXPECT_TRUE(log[2].contains(QStringLiteral("rivi_torjutaan torjui"))) << log[2].toStdString();
}

// --- KuittaaValmiiksi --------------------------------------------------------------------------

TEST_P(TyorivitTest, CompletionSetsTheStateFromAnyState)
{
    for (std::int32_t nro : {10001, 10005}) {  // open and already invoiced alike
        SCOPED_TRACE(nro);
        EXPECT_TRUE(methods_->KuittaaValmiiksi(nro));
        EXPECT_EQ(text(QStringLiteral("SELECT TYO_TILA FROM MAARPER WHERE TYO_NRO=%1").arg(nro)),
                  QStringLiteral("TYÖT OK"));
    }
    // 10001 had no completion time; the database's clock gives one.
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM MAARPER WHERE TYO_NRO=10001 AND TYO_VALMISPVM IS NOT NULL")),
              1);

    const std::int64_t valmiita = integer(QStringLiteral("SELECT COUNT(*) FROM MAARPER WHERE TYO_TILA='TYÖT OK'"));
    EXPECT_TRUE(methods_->KuittaaValmiiksi(99999));
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM MAARPER WHERE TYO_TILA='TYÖT OK'")), valmiita);
    EXPECT_TRUE(logLines().isEmpty());

    // A completed work order leaves the default work-order search.
    EXPECT_EQ(methods_->Tyomaarayshaku(QString(), 10001, false)->recordCount(), 0);
}

TEST_P(TyorivitTest, CompletionFailureFailsTheCall)
{
    db().close();
    EXPECT_THROW(methods_->KuittaaValmiiksi(10001), db::Error);
}

KRP_INSTANTIATE_ON_BACKENDS(TyorivitTest);

}  // namespace
}  // namespace krp::test
