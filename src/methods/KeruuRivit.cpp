// Goods-receipt and picking rows from the warehouse terminals. Each record becomes one row of
// its staging table, each insert committed by itself; the first failing row ends the list, so
// the rows before it stay written and the rows after it are not.
#include "methods/ServerMethodsUnit1.h"
#include "methods/TextFailure.h"

namespace krp {

namespace {

const QString rivejaEiAnnettu = QStringLiteral("rivejä ei annettu (lista puuttuu).");

}  // namespace

QString TServerMethods1::LisaaVarastoontulorivit(const std::optional<TObjectList<types::TVarastoontulorivi>>& Rivit)
{
    try {
        if (!Rivit)
            throw MethodError(rivejaEiAnnettu);
        db::Query& lisays = sqlVarastoontulorivinLisays;
        for (const types::TVarastoontulorivi& rivi : *Rivit) {
            lisays.param(QStringLiteral("id")).setText(rivi.id);
            lisays.param(QStringLiteral("ostotilausnro")).setInteger(rivi.ostotilausnro);
            lisays.param(QStringLiteral("tilausrivinro")).setInteger(rivi.tilausrivinro);
            lisays.param(QStringLiteral("toimittajanro")).setInteger(rivi.toimittajanro);
            lisays.param(QStringLiteral("tuotekoodi")).setText(rivi.tuotekoodi);
            lisays.param(QStringLiteral("saapuvamaara")).setFloat(rivi.saapuvamaara);
            lisays.param(QStringLiteral("kerattymaara")).setFloat(rivi.kerattymaara);
            lisays.param(QStringLiteral("keruupaateid")).setText(rivi.keruupaateid);
            lisays.param(QStringLiteral("tila")).setText(QStringLiteral("KESKEN"));
            lisays.execute();
        }
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Varastoontulorivien lisäys epäonnistui. Syy: "),
                                 QStringLiteral(" LisaaVarastoontulorivit: "), e);
    }
}

QString TServerMethods1::LisaaKerailyrivit(const std::optional<TObjectList<types::TKerailyrivi>>& Rivit)
{
    try {
        if (!Rivit)
            throw MethodError(rivejaEiAnnettu);
        db::Query& lisays = sqlKerailyrivinLisays;
        for (const types::TKerailyrivi& rivi : *Rivit) {
            lisays.param(QStringLiteral("id")).setText(rivi.id);
            lisays.param(QStringLiteral("toimittajanro")).setInteger(rivi.toimittajanro);
            lisays.param(QStringLiteral("tuotekoodi")).setText(rivi.tuotekoodi);
            lisays.param(QStringLiteral("maara")).setFloat(rivi.maara);
            lisays.param(QStringLiteral("keruupaateid")).setText(rivi.keruupaateid);
            lisays.param(QStringLiteral("asiakasnro")).setInteger(rivi.asiakasnro);
            lisays.execute();
        }
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Keräilyrivien lisäys epäonnistui. Syy: "),
                                 QStringLiteral(" LisaaKerailyrivit: "), e);
    }
}

}  // namespace krp
