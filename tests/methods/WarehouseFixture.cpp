#include "WarehouseFixture.h"

#include "support/QtTestApp.h"

namespace krp::test {

QCoreApplication& warehouseTestApp()
{
    static QCoreApplication* app = [] {
        // Before the first use of the system locale.
        qputenv("LC_ALL", "fi_FI.UTF-8");
        qputenv("LANG", "fi_FI.UTF-8");
        return qtApp();
    }();
    return *app;
}

void WarehouseTest::SetUp()
{
    warehouseTestApp();
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    EventLog::setInstance(&log);
    context.database = &db();
    methods = std::make_unique<TServerMethods1>(context);
}

void WarehouseTest::TearDown()
{
    methods.reset();
    EventLog::setInstance(nullptr);
    DatabaseTest::TearDown();
}

CallLog WarehouseTest::logOf(const std::function<void()>& call)
{
    const int before = log.lineCount();
    const QString timeBefore = nowText();
    call();
    const QString timeAfter = nowText();
    log.appendHandedOver();
    CallLog out;
    out.lines = log.lines().mid(before);
    for (const QString& line : std::as_const(out.lines)) {
        if (line.startsWith(timeBefore)) {
            out.rest << line.mid(timeBefore.size());
        } else if (line.startsWith(timeAfter)) {
            out.rest << line.mid(timeAfter.size());
        } else {
            out.rest << line;
            out.timeTextsOk = false;
        }
    }
    return out;
}

bool WarehouseTest::isNull(const QString& sql)
{
    db::Query q(testDb().database());
    q.setSql({sql});
    q.open();
    return q.isEmpty() || q.field(0).isNull();
}

QString WarehouseTest::row(const QString& sql)
{
    db::Query q(testDb().database());
    q.setSql({sql});
    q.open();
    QStringList fields;
    for (int i = 0; !q.isEmpty() && i < static_cast<int>(q.result().columns.size()); ++i)
        fields << q.field(i).asText();
    return fields.join(QLatin1Char('|'));
}

QString sqlText(const QString& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

void WarehouseTest::tuote(const QString& koodi, int toimittaja, const QString& nimi, const QString& ean,
                          const QString& tyyppi)
{
    exec(QStringLiteral("INSERT INTO TUOTPER (TP_TUOTEKOODI, TP_TOIMITTAJANRO, TP_NIMI, TP_EANKOODI, "
                        "TP_TYYPPIKOODI, TP_HYLLYPAIKKA) VALUES (%1, %2, %3, %4, %5, 'H-1')")
             .arg(sqlText(koodi))
             .arg(toimittaja)
             .arg(sqlText(nimi), sqlText(ean), sqlText(tyyppi)));
}

void WarehouseTest::varasto(const QString& koodi, int toimittaja, double varastossa, const QString& invepvm)
{
    exec(QStringLiteral("INSERT INTO TUOTVAIH (TV_TUOTEKOODI, TV_TOIMITTAJANRO, TV_VARASTOSSA, TV_INVEPVM) "
                        "VALUES (%1, %2, %3, %4)")
             .arg(sqlText(koodi))
             .arg(toimittaja)
             .arg(varastossa)
             .arg(sqlText(invepvm)));
}

void WarehouseTest::tilausrivi(int nro, int rivi, const QString& koodi, int toimittaja, const QString& tilattu,
                               const QString& toimitettu, const QString& perutettu)
{
    exec(
        QStringLiteral("INSERT INTO OSTOTILRIV (OTR_NRO, OTR_RIVINRO, OTR_TUOTEKOODI, OTR_TOIMITTAJANRO, "
                       "OTR_TILATTUMAARA, OTR_TOIMITETTUMAARA, OTR_PERUTETTUMAARA) VALUES (%1, %2, %3, %4, %5, %6, %7)")
            .arg(nro)
            .arg(rivi)
            .arg(sqlText(koodi))
            .arg(toimittaja)
            .arg(tilattu, toimitettu, perutettu));
}

void WarehouseTest::jonorivi(const QString& id, int tilaus, const QString& koodi, int toimittaja, double kerattu,
                             const QString& jatkokasitelty)
{
    exec(QStringLiteral("INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TOIMITTAJANRO, KEO_TUOTEKOODI, "
                        "KEO_KERATTYMAARA, KEO_JATKOKASITELTY, KEO_TILA) VALUES (%1, %2, %3, %4, %5, %6, 'KESKEN')")
             .arg(sqlText(id))
             .arg(tilaus)
             .arg(toimittaja)
             .arg(sqlText(koodi))
             .arg(kerattu)
             .arg(sqlText(jatkokasitelty)));
}

}  // namespace krp::test
