// Work lines added to a work order (MAARTYO) with the work order's totals (MAARPER), and the
// completion of a work order.
#include "log/DateTimeText.h"
#include "log/ClientText.h"
#include "methods/KeyNumbering.h"
#include "methods/MethodError.h"
#include "methods/MethodSupport.h"
#include "methods/ServerMethodsUnit1.h"
#include "methods/TyorivinHinta.h"
#include "types/DateTimeValue.h"

#include <cmath>

namespace krp {

namespace {

const QString kTag = QStringLiteral("LisaaTyovaiheTyomaaraykselle: ");

// The work order's customer the line is charged to: slot 1, 2 or 3 and its customer number.
struct Asiakaspaikka {
    QChar paikka;
    std::int32_t asiakasnro = 0;
};

// The customer the client asked for when the work order has it in one of its slots (the first
// such slot); otherwise the second customer when there is one, else the first.
Asiakaspaikka valitseAsiakaspaikka(std::int32_t haluttu, std::int32_t asiakas1, std::int32_t asiakas2,
                                   std::int32_t asiakas3)
{
    if (haluttu != 0) {
        if (haluttu == asiakas1)
            return {QLatin1Char('1'), haluttu};
        if (haluttu == asiakas2)
            return {QLatin1Char('2'), haluttu};
        if (haluttu == asiakas3)
            return {QLatin1Char('3'), haluttu};
    }
    if (asiakas2 > 0)
        return {QLatin1Char('2'), asiakas2};
    return {QLatin1Char('1'), asiakas1};
}

void lisaaTyorivi(db::Query& q, std::int32_t tyomaaraysnro, const types::TTyorivi& rivi)
{
    q.clearSql();
    q.addLine(QStringLiteral("INSERT INTO MAARTYO("));
    q.addLine(QStringLiteral("MTR_NRO, MTR_RIVINRO, MTR_SUORITTAJA, MTR_ASIAKASNRO, MTR_TYOKOODI"));
    q.addLine(QStringLiteral(", MTR_AJONEUVOKOODI, MTR_TYOLUOKKA, MTR_TEHTAVA, MTR_LISATEKSTI, MTR_SELVITYS"));
    q.addLine(
        QStringLiteral(", MTR_ALOITETTUPVM, MTR_VALMISPVM, MTR_ARVIOAIKA, MTR_SUORITETTUAIKA, MTR_LASKUTETTUAIKA"));
    q.addLine(QStringLiteral(", MTR_TUNTIVELOITUS, MTR_KIINTEAHINTA, MTR_ALEPROS, MTR_ALE, MTR_RIVISUMMA"));
    q.addLine(QStringLiteral(", MTR_VEROKANTA, JNRO, MTR_KPL, MTR_TYYPPI, MTR_PAKETTITUNNUS"));
    q.addLine(QStringLiteral(", MTR_OSTOHINTA, MTR_KATE, MTR_DEBET, MTR_VAURIONRO, MTR_TYOPAKKOODI"));
    q.addLine(QStringLiteral(", MTR_VIITE, MTR_CABASKOODI, MTR_TYOPAKHAKUNRO, MTR_RIVITYYPPI"));
    q.addLine(QStringLiteral(")"));
    q.addLine(QStringLiteral("VALUES("));
    q.addLine(QStringLiteral(":mtr_nro, :mtr_rivinro, :mtr_suorittaja, :mtr_asiakasnro, :mtr_tyokoodi"));
    q.addLine(QStringLiteral(", :mtr_ajoneuvokoodi, :mtr_tyoluokka, :mtr_tehtava, :mtr_lisateksti, :mtr_selvitys"));
    q.addLine(QStringLiteral(
        ", :mtr_aloitettupvm, :mtr_valmispvm, :mtr_arvioaika, :mtr_suoritettuaika, :mtr_laskutettuaika"));
    q.addLine(QStringLiteral(", :mtr_tuntiveloitus, :mtr_kiinteahinta, :mtr_alepros, :mtr_ale, :mtr_rivisumma"));
    q.addLine(
        QStringLiteral(", :mtr_verokanta, (SELECT IFNULL(MAX(JNRO),0)+1000 FROM MAARTYO WHERE MTR_NRO=:mtr_nro), "
                       ":mtr_kpl, :mtr_tyyppi, :mtr_pakettitunnus"));
    q.addLine(QStringLiteral(", :mtr_ostohinta, :mtr_kate, :mtr_debet, :mtr_vaurionro, :mtr_tyopakkoodi"));
    q.addLine(QStringLiteral(", :mtr_viite, :mtr_cabaskoodi, :mtr_tyopakhakunro, :mtr_rivityyppi"));
    q.addLine(QStringLiteral(")"));

    auto text = [&q](const char* name, const QString& value) { q.param(QLatin1String(name)).setText(value); };
    auto integer = [&q](const char* name, std::int64_t value) { q.param(QLatin1String(name)).setInteger(value); };
    auto real = [&q](const char* name, double value) { q.param(QLatin1String(name)).setFloat(value); };
    auto dateTime = [&q](const char* name, types::TDateTime value) {
        q.param(QLatin1String(name)).setDateTime(types::fromTDateTime(value));
    };
    integer("mtr_nro", tyomaaraysnro);  // also the work order of the JNRO sub-select
    integer("mtr_rivinro", rivi.rivinro);
    text("mtr_suorittaja", rivi.suorittaja);
    integer("mtr_asiakasnro", rivi.asiakasnro);
    text("mtr_tyokoodi", rivi.tyokoodi);
    text("mtr_ajoneuvokoodi", rivi.ajoneuvokoodi);
    text("mtr_tyoluokka", rivi.tyoluokka);
    text("mtr_tehtava", rivi.tehtava);
    text("mtr_lisateksti", rivi.lisateksti);
    text("mtr_selvitys", rivi.selvitys);
    dateTime("mtr_aloitettupvm", rivi.aloitettupvm);
    dateTime("mtr_valmispvm", rivi.valmispvm);
    real("mtr_arvioaika", rivi.arvioaika);
    real("mtr_suoritettuaika", rivi.suoritettuaika);
    real("mtr_laskutettuaika", rivi.laskutettuaika);
    real("mtr_tuntiveloitus", rivi.tuntiveloitus);
    real("mtr_kiinteahinta", rivi.kiinteahinta);
    real("mtr_alepros", rivi.alepros);
    real("mtr_ale", rivi.ale);
    real("mtr_rivisumma", rivi.rivisumma);
    integer("mtr_verokanta", rivi.verokanta);
    real("mtr_kpl", rivi.kpl);
    integer("mtr_tyyppi", rivi.tyyppi);
    integer("mtr_pakettitunnus", rivi.pakettitunnus);
    real("mtr_ostohinta", rivi.ostohinta);
    real("mtr_kate", rivi.kate);
    integer("mtr_debet", rivi.debet);
    integer("mtr_vaurionro", rivi.vaurionro);
    text("mtr_tyopakkoodi", rivi.tyopakkoodi);
    text("mtr_viite", rivi.viite);
    text("mtr_cabaskoodi", rivi.cabaskoodi);
    integer("mtr_tyopakhakunro", rivi.tyopakhakunro);
    text("mtr_rivityyppi", rivi.rivityyppi);
    q.execute();
}

// The line's sum grows the work order's total, its work total and the work total of the slot.
void kasvataLoppusummia(db::Query& q, std::int32_t tyomaaraysnro, QChar paikka, double muutos)
{
    q.clearSql();
    q.addLine(QStringLiteral("UPDATE MAARPER SET"));
    q.addLine(QStringLiteral("TYO_YHTEENSA=TYO_YHTEENSA+:muutos,"));
    q.addLine(QStringLiteral("TYO_YHTEENSA_TYO=TYO_YHTEENSA_TYO+:muutos,"));
    q.addLine(QStringLiteral("TYO_YHTEENSA_TYO") + paikka + QStringLiteral("=TYO_YHTEENSA_TYO") + paikka +
              QStringLiteral("+ :muutos,"));
    q.addLine(QStringLiteral("TYO_MUUTETTU=NOW()"));
    q.addLine(QStringLiteral("WHERE TYO_NRO=:nro"));
    q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
    q.param(QStringLiteral("muutos")).setFloat(muutos);
    q.execute();
}

}  // namespace

std::int32_t TServerMethods1::LisaaTyovaiheTyomaaraykselle(std::int32_t tyomaaraysnro,
                                                           const std::optional<types::TTyorivi>& Tyorivi)
{
    logProgress(kTag + QStringLiteral("tyomaaraysnro=") + QString::number(tyomaaraysnro) +
                QStringLiteral(" tyokoodi=") + (Tyorivi ? logSafe(Tyorivi->tyokoodi) : QString()) +
                QStringLiteral(" tehtava=") + (Tyorivi ? logSafe(Tyorivi->tehtava) : QString()));
    try {
        if (!Tyorivi)
            throw MethodError(QStringLiteral("Työriviä ei annettu."));
        types::TTyorivi rivi = *Tyorivi;
        db::Query& q = sqlYleinen;

        // The work order's customers; a number with no work order gets no lines.
        q.clearSql();
        q.addLine(QStringLiteral("SELECT TYO_ASIAKASNRO,TYO_ASIAKASNRO2,TYO_ASIAKASNRO3 FROM MAARPER"));
        q.addLine(QStringLiteral("WHERE TYO_NRO=:nro"));
        q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
        q.open();
        if (q.isEmpty())
            throw MethodError(QStringLiteral("Työmääräystä %1 ei löydy.").arg(tyomaaraysnro));
        const Asiakaspaikka asiakas = valitseAsiakaspaikka(
            rivi.asiakasnro, static_cast<std::int32_t>(q.fieldByName(QStringLiteral("TYO_ASIAKASNRO")).asInteger()),
            static_cast<std::int32_t>(q.fieldByName(QStringLiteral("TYO_ASIAKASNRO2")).asInteger()),
            static_cast<std::int32_t>(q.fieldByName(QStringLiteral("TYO_ASIAKASNRO3")).asInteger()));
        rivi.asiakasnro = asiakas.asiakasnro;

        // The customer's own labour discount replaces whatever the client sent.
        q.clearSql();
        q.addLine(QStringLiteral("SELECT AP_TOIDENALEPROS FROM ASIAKPER"));
        q.addLine(QStringLiteral("WHERE AP_ASIAKASNRO=:asiakasnro"));
        q.param(QStringLiteral("asiakasnro")).setInteger(rivi.asiakasnro);
        q.open();
        rivi.alepros = q.eof() ? 0.0 : q.fieldByName(QStringLiteral("AP_TOIDENALEPROS")).asFloat();
        q.close();

        const TyorivinHinta hinta = hinnoitteleTyorivi(rivi, rivi.alepros);
        // A sum beyond the range of a real would turn the work order's totals into infinity.
        if (!std::isfinite(hinta.rivisumma) || !std::isfinite(hinta.kate))
            throw MethodError(QStringLiteral("Työrivin summaa ei voi laskea: luvut ovat liian suuria."));
        rivi.rivisumma = hinta.rivisumma;
        rivi.kate = hinta.kate;

        // The row number, the line and the totals: one numbered step, one transaction, so a
        // line is never left without its sum in the totals.
        bool paikkaKirjattu = false;
        rivi.rivinro = numberUnderLock(KeyNumberingLocks::maartyo(), [&](int) {
            db::Transaction transaktio(db_);
            q.clearSql();
            q.addLine(QStringLiteral("SELECT IFNULL(MAX(MTR_RIVINRO),0)+1 FROM MAARTYO WHERE MTR_NRO=:mtr_nro"));
            q.param(QStringLiteral("mtr_nro")).setInteger(tyomaaraysnro);
            q.open();
            types::TTyorivi uusi = rivi;
            uusi.rivinro = static_cast<std::int32_t>(q.field(0).asInteger());
            q.close();
            if (!paikkaKirjattu) {
                logProgress(kTag + QStringLiteral("Rivi asiakkaalle (1/2/3): ") + asiakas.paikka);
                paikkaKirjattu = true;
            }
            lisaaTyorivi(q, tyomaaraysnro, uusi);
            kasvataLoppusummia(q, tyomaaraysnro, asiakas.paikka, uusi.rivisumma);
            transaktio.commit();
            return uusi.rivinro;
        });

        logProgress(kTag + QStringLiteral("Työrivi lisätty työmääräykselle: ") + QString::number(tyomaaraysnro) +
                    QStringLiteral(" rivinro: ") + QString::number(rivi.rivinro) + QStringLiteral(" JNRO: ") +
                    QString::number(rivi.jro) + QStringLiteral(" työkoodi: ") + logSafe(rivi.tyokoodi));
        logProgress(kTag + QStringLiteral("Työmääräyksen loppusummaa kasvatettu ") + twoDecimalsText(rivi.rivisumma));
        return rivi.rivinro;
    } catch (const std::exception& e) {
        logProgress(kTag + QStringLiteral("Työvaihetta ei saatu lisättyä. Virhe: ") + logSafe(messageOf(e), 2000));
        return 0;
    }
}

bool TServerMethods1::KuittaaValmiiksi(std::int32_t tyomaaraysnro)
{
    db::Query& q = sqlYleinen;
    q.clearSql();
    q.addLine(QStringLiteral("UPDATE MAARPER SET TYO_TILA=:tila, TYO_VALMISPVM=Now()"));
    q.addLine(QStringLiteral("WHERE TYO_NRO=:nro"));
    q.param(QStringLiteral("tila")).setText(QStringLiteral("TYÖT OK"));
    q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
    q.execute();
    return true;
}

}  // namespace krp
