// Stock-count rows and product-change requests from the warehouse terminals, one record per
// call, each written to its staging table.
#include "methods/ServerMethodsUnit1.h"
#include "log/ClientText.h"
#include "methods/MethodSupport.h"
#include "methods/TextFailure.h"

#include "log/DateTimeText.h"
#include "log/EventLog.h"
#include "platform/AnsiCodePage.h"

namespace krp {

namespace {

const QString riviaEiAnnettu = QStringLiteral("riviä ei annettu (tietue puuttuu).");

// The terminals send -9999 for "no value"; that becomes a null column.
constexpr std::int32_t eiArvoa = -9999;

void sidoLukuTaiNull(db::Param& param, std::int32_t arvo)
{
    if (arvo == eiArvoa)
        param.setNull();
    else
        param.setInteger(arvo);
}

}  // namespace

QString TServerMethods1::LisaaInventointirivi(const std::optional<types::TInventointirivi>& Rivi)
{
    try {
        if (!Rivi)
            throw MethodError(riviaEiAnnettu);
        const types::TInventointirivi& rivi = *Rivi;
        appendLogLine(nowText() + QStringLiteral(" Lisätään toimittajan ") + QString::number(rivi.toimittajanro) +
                      QStringLiteral(" tuotteelle ") + logSafe(rivi.tuotekoodi) +
                      QStringLiteral(" inventointirivi määrällä ") + generalFloatText(rivi.uusi_varastosaldo) +
                      QStringLiteral("."));
        db::Query& lisays = sqlInventointirivinLisays;
        lisays.param(QStringLiteral("id")).setText(rivi.id);
        lisays.param(QStringLiteral("toimittajanro")).setInteger(rivi.toimittajanro);
        lisays.param(QStringLiteral("tuotekoodi")).setText(rivi.tuotekoodi);
        lisays.param(QStringLiteral("vanha_varastosaldo")).setFloat(rivi.vanha_varastosaldo);
        lisays.param(QStringLiteral("uusi_varastosaldo")).setFloat(rivi.uusi_varastosaldo);
        lisays.param(QStringLiteral("keruupaateid")).setText(rivi.keruupaateid);
        lisays.execute();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Inventointirivin lisäys epäonnistui. Syy: "),
                                 QStringLiteral(" LisaaInventointirivi: "), e);
    }
}

QString TServerMethods1::LisaaTuotemuutosrivi(const std::optional<types::TTuotemuutosrivi>& Rivi)
{
    try {
        if (!Rivi)
            throw MethodError(riviaEiAnnettu);
        const types::TTuotemuutosrivi& rivi = *Rivi;
        db::Query& lisays = sqlTuotemuutosrivinLisays;
        lisays.param(QStringLiteral("id")).setText(rivi.id);
        lisays.param(QStringLiteral("toimittajanro")).setInteger(rivi.toimittajanro);
        lisays.param(QStringLiteral("tuotekoodi")).setText(rivi.tuotekoodi);
        lisays.param(QStringLiteral("eankoodi")).setText(trimUpper(rivi.eankoodi));
        lisays.param(QStringLiteral("hyllypaikka")).setText(trimUpper(rivi.hyllypaikka));
        sidoLukuTaiNull(lisays.param(QStringLiteral("halytysraja")), rivi.halytysraja);
        sidoLukuTaiNull(lisays.param(QStringLiteral("optimivarasto")), rivi.optimivarasto);
        // The name is stored as the ERP's ANSI code page can hold it.
        lisays.param(QStringLiteral("nimi")).setText(platform::throughAnsiCodePage(trimControl(rivi.nimi)));
        lisays.execute();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tuotemuutosrivin lisäys epäonnistui. Syy: "),
                                 QStringLiteral(" LisaaTuotemuutosrivi: "), e);
    }
}

}  // namespace krp
