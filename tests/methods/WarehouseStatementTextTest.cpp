// The statements as the ERP database receives them, line by line: they are the ERP's own
// dialect and must not drift.
#include "WarehouseFixture.h"

using namespace krp;
using krp::test::WarehouseTest;

namespace {

class WarehouseStatementTextTest : public WarehouseTest {};

QStringList lines(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* l : list)
        out << QString::fromUtf8(l);
    return out;
}

const char* kHakuAlku =
    "SELECT DISTINCT TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER LEFT "
    "JOIN TUOTVAIH";
const char* kHakuLiitos = "ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO";
const char* kHakuTilaus = "JOIN OSTOTILRIV ON TP_TUOTEKOODI=OTR_TUOTEKOODI AND TP_TOIMITTAJANRO=OTR_TOIMITTAJANRO";
const char* kHakuAvoin =
    "AND ((IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))>0)";

TEST_P(WarehouseStatementTextTest, SearchStatementOfTheLastPhase)
{
    // Found nowhere: the third phase's statement stays.
    ASSERT_EQ(methods->MonivaiheinenTuotehaku(0, QStringLiteral("EI")), QString());
    EXPECT_EQ(methods->sqlTuotelista.sql(),
              lines({kHakuAlku, kHakuLiitos, kHakuTilaus,
                     "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TYYPPIKOODI=:koodi", kHakuAvoin}));
    ASSERT_EQ(methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("EI")), QString());
    EXPECT_EQ(methods->sqlTuotelista.sql(),
              lines({kHakuAlku, kHakuLiitos, "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TYYPPIKOODI=:koodi"}));

    tuote(QStringLiteral("P"), 1, QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("T"));
    ASSERT_EQ(methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("E")), QString());
    EXPECT_EQ(methods->sqlTuotelista.sql(),
              lines({kHakuAlku, kHakuLiitos, "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_EANKOODI=:koodi"}));
    ASSERT_EQ(methods->MonivaiheinenTuotehakuNormaali(0, QStringLiteral("P")), QString());
    EXPECT_EQ(methods->sqlTuotelista.sql(),
              lines({kHakuAlku, kHakuLiitos, "WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TUOTEKOODI=:koodi"}));
}

TEST_P(WarehouseStatementTextTest, ProductQueries)
{
    ASSERT_EQ(methods->Tuotetiedot(QStringLiteral("P"), 1, QStringLiteral("TP_NIMI, TV_VARASTOSSA")), QString());
    EXPECT_EQ(
        methods->sqlTuotetiedot.sql(),
        lines({"SELECT TP_NIMI, TV_VARASTOSSA FROM TUOTPER3", "LEFT JOIN TUOTETYYPIT ON TP_TYYPPIKOODI=TTP_TYYPPIKOODI",
               "LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO",
               "WHERE TP_TUOTEKOODI=:tk AND TP_TOIMITTAJANRO=:tn"}));

    ASSERT_EQ(methods->TuotetyypinTuotteet(QStringLiteral("T")), QString());
    EXPECT_EQ(methods->sqlTuotetyypinTuotteet.sql(),
              lines({"SELECT TUOTPER.*,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER",
                     "LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO",
                     "WHERE TP_TYYPPIKOODI=:tk"}));

    ASSERT_EQ(methods->HaeToimittajanimi(1), QString());
    EXPECT_EQ(methods->FDKysely.sql(), lines({"SELECT TOI_NIMI FROM TOIMPER", "WHERE TOI_TOIMITTAJANRO=:tn"}));

    ASSERT_EQ(methods->InventointiIlmoitus(QStringLiteral("P"), 1), QString());
    EXPECT_EQ(methods->FDKysely.sql(),
              lines({"SELECT TV_INVEPVM FROM TUOTVAIH", "WHERE TV_TUOTEKOODI=:tk AND TV_TOIMITTAJANRO=:tn"}));

    ASSERT_EQ(methods->LisaaTarratulostus(QStringLiteral("P"), 1, 1), QString());
    EXPECT_EQ(
        methods->FDKysely.sql(),
        lines({"INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI)",
               "VALUES (:p1,:p2,:p3,:p4,:p5,:p6)"}));
}

TEST_P(WarehouseStatementTextTest, FixedStatements)
{
    EXPECT_EQ(methods->sqlTuotteenOTrivit.sql(),
              lines({"SELECT (IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0)) ",
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
                     ")"}));
    EXPECT_EQ(methods->sqlTuotettaVarastoonkirjausjonossa.sql(),
              lines({"SELECT SUM(KEO_KERATTYMAARA) FROM KERUUOSTOTILAUS", "WHERE KEO_OSTOTILAUSNRO=:otnro ",
                     "AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn",
                     "AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL)"}));
    EXPECT_EQ(
        methods->sqlVarastoontulorivinLisays.sql(),
        lines({"INSERT INTO KERUUOSTOTILAUS",
               "(KEO_ID, KEO_OSTOTILAUSNRO, KEO_TILAUSRIVINRO, KEO_TOIMITTAJANRO, KEO_TUOTEKOODI, KEO_SAAPUVAMAARA, "
               "KEO_KERATTYMAARA, KEO_KASITELTY, KEO_JATKOKASITELTY, KEO_KERUUPAATEID, KEO_TILA)",
               "VALUES ",
               "(:id,:ostotilausnro ,:tilausrivinro ,:toimittajanro ,:tuotekoodi,:saapuvamaara ,:kerattymaara ,null "
               ",null "
               ",:keruupaateid, :tila)"}));
    EXPECT_EQ(methods->sqlKerailyrivinLisays.sql(),
              lines({"INSERT INTO KERUUTUOTTEET", "(KTU_ID, KTU_TOIMITTAJANRO, KTU_TUOTEKOODI, KTU_MAARA,",
                     " KTU_KASITELTY, KTU_JATKOKASITELTY, KTU_KERUUPAATEID,  KTU_SARJANRO, KTU_ASIAKASNRO)", "VALUES ",
                     "(:id,:toimittajanro ,:tuotekoodi ,:maara , Now(), null , :keruupaateid, null, :asiakasnro)"}));
    EXPECT_EQ(
        methods->sqlInventointirivinLisays.sql(),
        lines({"INSERT INTO KERUUINVENTOINTI",
               "(KEI_ID, KEI_TOIMITTAJANRO, KEI_TUOTEKOODI, KEI_VANHAMAARA, KEI_UUSIMAARA, KEI_LUOTU, KEI_KASITELTY, "
               "KEI_JATKOKASITELTY, KEI_KERUUPAATEID, KEI_TILA)",
               "VALUES ",
               "(:id,:toimittajanro ,:tuotekoodi ,:vanha_varastosaldo , :uusi_varastosaldo, Now(), Now(), null, "
               ":keruupaateid, null)"}));
    EXPECT_EQ(
        methods->sqlTuotemuutosrivinLisays.sql(),
        lines(
            {"INSERT INTO KERUUTUOTEMUUTOS",
             "(KTM_ID, KTM_TOIMITTAJANRO, KTM_TUOTEKOODI, KTM_UUSI_EAN, KTM_UUSIHYLLY, KTM_UUSIHALY, KTM_UUSIOPTIMI,  "
             "KTM_JATKOKASITELTY, KTM_UUSINIMI)",
             "VALUES ",
             "(:id,:toimittajanro ,:tuotekoodi ,:eankoodi ,:hyllypaikka,:halytysraja ,:optimivarasto ,null, :nimi)"}));
}

}  // namespace

KRP_INSTANTIATE_ON_BACKENDS(WarehouseStatementTextTest);
