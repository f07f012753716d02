// Multi-phase product search: the scanned code is tried as an EAN code, a product code and a
// product type code, and the first phase that finds rows ends the search. The rows stay open
// in sqlTuotelista for the provider dspTuotelista.
#include "methods/ServerMethodsUnit1.h"
#include "log/ClientText.h"
#include "methods/MethodSupport.h"
#include "methods/TextFailure.h"

namespace krp {

namespace {

// Wording of one of the two searches.
struct Hakutekstit {
    QString alku;        // first progress line, before the supplier number
    QString vaiheet[3];  // progress line of each phase
    QString loytyi;      // final progress line, before True/False
    QString virheteksti;
    QString tagi;
};

const Hakutekstit& avoimetTekstit()
{
    static const Hakutekstit t{
        QStringLiteral("Monivaiheinen tuotehaku: toimittajanro="),
        {QStringLiteral("Monivaiheinen tuotehaku: eankoodi"), QStringLiteral("Monivaiheinen tuotehaku: tuotekoodi"),
         QStringLiteral("Monivaiheinen tuotehaku: tyyppikoodi")},
        QStringLiteral("Monivaiheinen tuotteita löytyi: "),
        QStringLiteral("Tuotehaku epäonnistui. Syy: "),
        QStringLiteral(" MonivaiheinenTuotehaku: "),
    };
    return t;
}

const Hakutekstit& normaalitTekstit()
{
    static const Hakutekstit t{
        QStringLiteral("Monivaiheinen tuotehaku normaali: toimittajanro="),
        {QStringLiteral("Monivaiheinen tuotehaku normaali: eankoodi"),
         QStringLiteral("Monivaiheinen tuotehaku normaali: tuotekoodi"),
         QStringLiteral("Monivaiheinen tuotehaku normaali: tyyppikoodi")},
        QStringLiteral("Monivaiheinen tuotteita löytyi normaali: "),
        QStringLiteral("Tuotehaku (normaali) epäonnistui. Syy: "),
        QStringLiteral(" MonivaiheinenTuotehaku normaali: "),
    };
    return t;
}

// The condition of each phase: EAN code, product code, product type code.
const QString& vaiheenEhto(int vaihe)
{
    static const QString ehdot[3] = {
        QStringLiteral("WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_EANKOODI=:koodi"),
        QStringLiteral("WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TUOTEKOODI=:koodi"),
        QStringLiteral("WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_TYYPPIKOODI=:koodi"),
    };
    return ehdot[vaihe];
}

// Runs one phase on `kysely`. With `vainAvoimet` a product qualifies only through a
// purchase-order line that still has an open quantity.
void avaaVaihe(db::Query& kysely, int vaihe, bool vainAvoimet, std::int32_t toimittajanro, const QString& koodi)
{
    kysely.clearSql();
    kysely.addLine(
        QStringLiteral("SELECT DISTINCT TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TUOTVAIH.TV_VARASTOSSA "
                       "FROM TUOTPER LEFT JOIN TUOTVAIH"));
    kysely.addLine(QStringLiteral("ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO"));
    if (vainAvoimet)
        kysely.addLine(
            QStringLiteral("JOIN OSTOTILRIV ON TP_TUOTEKOODI=OTR_TUOTEKOODI AND TP_TOIMITTAJANRO=OTR_TOIMITTAJANRO"));
    kysely.addLine(vaiheenEhto(vaihe));
    if (vainAvoimet)
        kysely.addLine(QStringLiteral(
            "AND ((IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))>0)"));
    kysely.param(QStringLiteral("tn")).setInteger(toimittajanro);
    kysely.param(QStringLiteral("koodi")).setText(koodi);
    kysely.open();
}

QString monivaiheinenHaku(db::Query& kysely, const Hakutekstit& tekstit, bool vainAvoimet, std::int32_t toimittajanro,
                          const QString& hakukoodi)
{
    try {
        logProgress(tekstit.alku + QString::number(toimittajanro) + QStringLiteral(" hakukoodi=") + logSafe(hakukoodi));
        const QString koodi = trimUpper(hakukoodi);
        for (int vaihe = 0; vaihe < 3; ++vaihe) {
            avaaVaihe(kysely, vaihe, vainAvoimet, toimittajanro, koodi);
            logProgress(tekstit.vaiheet[vaihe]);
            if (!kysely.isEmpty())
                break;
        }
        logProgress(tekstit.loytyi + (kysely.isEmpty() ? QStringLiteral("False") : QStringLiteral("True")));
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(tekstit.virheteksti, tekstit.tagi, e);
    }
}

}  // namespace

QString TServerMethods1::MonivaiheinenTuotehaku(std::int32_t toimittajanro, const QString& hakukoodi)
{
    return monivaiheinenHaku(sqlTuotelista, avoimetTekstit(), true, toimittajanro, hakukoodi);
}

QString TServerMethods1::MonivaiheinenTuotehakuNormaali(std::int32_t toimittajanro, const QString& hakukoodi)
{
    return monivaiheinenHaku(sqlTuotelista, normaalitTekstit(), false, toimittajanro, hakukoodi);
}

}  // namespace krp
