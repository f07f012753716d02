// What a warehouse terminal asks about one product: its details, the products of its type,
// its open purchase-order lines, what of it waits in the goods-receipt queue, the supplier's
// name, and whether a new stock count deserves a warning.
#include "methods/ServerMethodsUnit1.h"
#include "log/ClientText.h"
#include "methods/ColumnList.h"
#include "methods/MethodSupport.h"
#include "methods/TextFailure.h"

#include "log/DateTimeText.h"
#include "log/EventLog.h"

#include <QDate>
#include <QDateTime>
#include <cmath>
#include <limits>

namespace krp {

QString TServerMethods1::Tuotetiedot(const QString& tuotekoodi, std::int32_t toimittajanro, const QString& kentat)
{
    try {
        appendLogLine(nowText() + QStringLiteral(" Tuotetiedot haetaan toimittajan ") + QString::number(toimittajanro) +
                      QStringLiteral(" tuotteelle ") + logSafe(tuotekoodi));
        sqlTuotetiedot.clearSql();
        // The column list goes into the statement text itself; nothing but column references
        // may reach it. A refused list leaves the query without rows, as a failed one does.
        if (!isColumnList(kentat))
            throw MethodError(
                QStringLiteral("kenttäluettelo ei kelpaa. Anna sarakkeiden nimet pilkuin eroteltuina, esimerkiksi "
                               "TP_NIMI,TUOTVAIH.TV_VARASTOSSA (myös * ja TAULU.* käyvät)."));
        sqlTuotetiedot.addLine(QStringLiteral("SELECT ") + kentat + QStringLiteral(" FROM TUOTPER3"));
        sqlTuotetiedot.addLine(QStringLiteral("LEFT JOIN TUOTETYYPIT ON TP_TYYPPIKOODI=TTP_TYYPPIKOODI"));
        sqlTuotetiedot.addLine(
            QStringLiteral("LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO"));
        sqlTuotetiedot.addLine(QStringLiteral("WHERE TP_TUOTEKOODI=:tk AND TP_TOIMITTAJANRO=:tn"));
        sqlTuotetiedot.param(QStringLiteral("tk")).setText(trimUpper(tuotekoodi));
        sqlTuotetiedot.param(QStringLiteral("tn")).setInteger(toimittajanro);
        sqlTuotetiedot.open();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tuotetietojen haku epäonnistui. Syy: "),
                                 QStringLiteral(" Tuotetiedot: "), e);
    }
}

QString TServerMethods1::TuotetyypinTuotteet(const QString& tyyppikoodi)
{
    try {
        sqlTuotetyypinTuotteet.clearSql();
        sqlTuotetyypinTuotteet.addLine(QStringLiteral("SELECT TUOTPER.*,TUOTVAIH.TV_VARASTOSSA FROM TUOTPER"));
        sqlTuotetyypinTuotteet.addLine(
            QStringLiteral("LEFT JOIN TUOTVAIH ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO"));
        sqlTuotetyypinTuotteet.addLine(QStringLiteral("WHERE TP_TYYPPIKOODI=:tk"));
        sqlTuotetyypinTuotteet.param(QStringLiteral("tk")).setText(trimUpper(tyyppikoodi));
        sqlTuotetyypinTuotteet.open();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tuotetyypin tuotteiden listaaminen epäonnistui. Syy: "),
                                 QStringLiteral(" TuotetyypinTuotteet: "), e);
    }
}

QString TServerMethods1::TuotteenOstotilausrivit(const QString& tuotekoodi, std::int32_t toimittajanro)
{
    try {
        sqlTuotteenOTrivit.close();
        sqlTuotteenOTrivit.param(QStringLiteral("tk")).setText(trimUpper(tuotekoodi));
        sqlTuotteenOTrivit.param(QStringLiteral("tn")).setInteger(toimittajanro);
        sqlTuotteenOTrivit.open();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tuotteen avointen ostotilausrivien listaaminen epäonnistui. Syy: "),
                                 QStringLiteral(" TuotteenOstotilausrivit: "), e);
    }
}

namespace {

// The queued quantity as the whole number the client receives: a fraction rounds to the
// nearest whole number, an exact half to the even one.
std::int32_t kokonaisluvuksi(const db::Field& summa)
{
    if (summa.isNull())
        return 0;
    const double pyoristetty = std::nearbyint(summa.asFloat());  // default mode: half to even
    if (!(pyoristetty >= std::numeric_limits<std::int32_t>::min() &&
          pyoristetty <= std::numeric_limits<std::int32_t>::max()))
        throw MethodError(
            QStringLiteral("jonossa oleva määrä %1 ei mahdu kokonaislukuun.").arg(summa.asFloat(), 0, 'g', 15));
    return static_cast<std::int32_t>(pyoristetty);
}

}  // namespace

QString TServerMethods1::TuotettaVarastoonkirjausjonossa(const QString& tuotekoodi, std::int32_t toimittajanro,
                                                         std::int32_t ostotilausnro, std::int32_t& maara)
{
    try {
        db::Query& kysely = sqlTuotettaVarastoonkirjausjonossa;
        kysely.close();
        kysely.param(QStringLiteral("tk")).setText(tuotekoodi);
        kysely.param(QStringLiteral("tn")).setInteger(toimittajanro);
        kysely.param(QStringLiteral("otnro")).setInteger(ostotilausnro);
        kysely.open();
        maara = kysely.isEmpty() ? 0 : kokonaisluvuksi(kysely.field(0));
        kysely.close();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(
            QStringLiteral("Tuotteen varastoonvarastoonkirjausjonon tilan selvitys epäonnistui. Syy: "),
            QStringLiteral(" TuotettaVarastoonkirjausjonossa: "), e);
    }
}

QString TServerMethods1::HaeToimittajanimi(std::int32_t toimittajanro)
{
    try {
        FDKysely.clearSql();
        FDKysely.addLine(QStringLiteral("SELECT TOI_NIMI FROM TOIMPER"));
        FDKysely.addLine(QStringLiteral("WHERE TOI_TOIMITTAJANRO=:tn"));
        FDKysely.param(QStringLiteral("tn")).setInteger(toimittajanro);
        FDKysely.open();
        const QString nimi = FDKysely.isEmpty() ? QString() : FDKysely.fieldByName(QStringLiteral("TOI_NIMI")).asText();
        FDKysely.close();
        return nimi;
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Toimittajan nimen selvitys epäonnistui. Syy: "),
                                 QStringLiteral(" HaeToimittajanimi: "), e);
    }
}

// Errors leave this method to the framework, which reports them to the client.
QString TServerMethods1::InventointiIlmoitus(const QString& tuotekoodi, std::int32_t toimittajanro)
{
    FDKysely.clearSql();
    FDKysely.addLine(QStringLiteral("SELECT ARVO FROM ASETUS"));
    FDKysely.addLine(QStringLiteral("WHERE ASETUS='inv varoituksen aikaraja'"));
    FDKysely.open();
    // Warning period in days; a missing, empty or non-numeric setting means 0.
    int rajaPaivina = 0;
    if (!FDKysely.isEmpty()) {
        bool ok = false;
        const int arvo = FDKysely.fieldByName(QStringLiteral("ARVO")).asText().trimmed().toInt(&ok);
        if (ok)
            rajaPaivina = arvo;
    }

    FDKysely.clearSql();
    FDKysely.addLine(QStringLiteral("SELECT TV_INVEPVM FROM TUOTVAIH"));
    FDKysely.addLine(QStringLiteral("WHERE TV_TUOTEKOODI=:tk AND TV_TOIMITTAJANRO=:tn"));
    FDKysely.param(QStringLiteral("tk")).setText(tuotekoodi);
    FDKysely.param(QStringLiteral("tn")).setInteger(toimittajanro);
    FDKysely.open();
    // Without a stock row or a count date the last count is the zero date-time.
    QDateTime viimeisin(QDate(1899, 12, 30), QTime(0, 0));
    if (!FDKysely.isEmpty()) {
        const db::Field invepvm = FDKysely.fieldByName(QStringLiteral("TV_INVEPVM"));
        if (!invepvm.isNull())
            viimeisin = invepvm.asDateTime();
    }

    QString tulos;
    if (!(viimeisin.date() < QDate::currentDate().addDays(-static_cast<qint64>(rajaPaivina))))
        tulos = QStringLiteral("Tuote ") + tuotekoodi + QStringLiteral(" on jo inventoitu ") + dateTimeText(viimeisin) +
                QStringLiteral(".");
    FDKysely.close();
    return tulos;
}

}  // namespace krp
