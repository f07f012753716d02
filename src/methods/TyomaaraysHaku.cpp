// Searches of the workshop applications: work orders, work operations, customers, the work
// lines and the internal explanation of one work order. They only read the ERP database.
#include "methods/MethodError.h"
#include "log/ClientText.h"
#include "methods/MethodSupport.h"
#include "methods/QueryCloser.h"
#include "methods/ServerMethodsUnit1.h"
#include "methods/TextFailure.h"

namespace krp {

namespace {

// A registration number typed without its dash: "abc123" is searched again as "ABC-123".
QString withDash(const QString& trimmedReknro)
{
    return (trimmedReknro.left(3) + QLatin1Char('-') + trimmedReknro.mid(3, 3)).toUpper();
}

}  // namespace

db::Query* TServerMethods1::Tyomaarayshaku(const QString& reknro, std::int32_t tyomaaraysnro, bool nayta_myos_valmiit)
{
    logProgress(QStringLiteral("Työmääräyshaku: rekisterinro=") + logSafe(reknro) + QStringLiteral(" työmääräysnro=") +
                QString::number(tyomaaraysnro));
    try {
        db::Query& q = sqlTyomaarayshaku;
        const QString trimmedReknro = trimControl(reknro);
        const bool byReknro = !trimmedReknro.isEmpty();
        const bool byNro = tyomaaraysnro > 0;

        q.clearSql();
        q.addLine(QStringLiteral("SELECT MAARPER.*,AP_NIMI,AP_ASIAKASNRO,AJN_MERKKI,AJN_MALLI FROM MAARPER"));
        q.addLine(QStringLiteral("LEFT JOIN ASIAKPER ON TYO_ASIAKASNRO=AP_ASIAKASNRO"));
        q.addLine(QStringLiteral("LEFT JOIN AJONEUVO ON TYO_REKNRO=AJN_REKNRO"));
        q.addLine(QStringLiteral(
            "WHERE TYO_NRO>0 AND TYO_TILA<>'LASKUTETTU' AND TYO_TILA<>'KUSTANNUSARVIO' AND TYO_TILA<>'PERUTTU'"));
        if (!nayta_myos_valmiit)
            q.addLine(QStringLiteral("AND TYO_TILA<>'TYÖT OK'AND TYO_TILA<>'VALMIS'"));
        if (byReknro)
            q.addLine(QStringLiteral("AND TYO_REKNRO=:reknro"));
        if (byNro)
            q.addLine(QStringLiteral("AND TYO_NRO=:nro"));
        q.addLine(QStringLiteral("ORDER BY TYO_NRO DESC"));

        if (byReknro)
            q.param(QStringLiteral("reknro")).setText(trimmedReknro.toUpper());
        if (byNro)
            q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
        q.open();

        // One more try with the dash that a six-character number often lacks; its result is
        // final whether or not it has rows.
        if (q.isEmpty() && byReknro && reknro.size() == 6) {
            q.close();
            q.param(QStringLiteral("reknro")).setText(withDash(trimmedReknro));
            q.open();
        }
        return &q;
    } catch (const std::exception& e) {
        logFailure(QStringLiteral(" Työmääräyshaku: "),
                   QStringLiteral("Työmääräyshaku epäonnistui. Syy: ") + messageOf(e));
        return nullptr;
    }
}

void TServerMethods1::Tyovaihehaku(const QString& tyokoodi, const QString& tyonimi)
{
    logProgress(QStringLiteral("Työvaihehaku: työkoodi=") + logSafe(tyokoodi) + QStringLiteral(" työnimi=") +
                logSafe(tyonimi));
    try {
        db::Query& q = sqlTyovaihehaku;
        const QString koodi = trimUpper(tyokoodi);
        const bool byKoodi = !koodi.isEmpty();
        const bool byNimi = !trimControl(tyonimi).isEmpty();

        q.clearSql();
        q.addLine(QStringLiteral("SELECT * FROM TYOSUOR"));
        q.addLine(QStringLiteral("WHERE TYS_KOODI IS NOT NULL"));
        if (byKoodi)
            q.addLine(QStringLiteral("AND TYS_KOODI=:koodi"));
        if (byNimi)
            q.addLine(QStringLiteral("AND UPPER(TYS_NIMI) like :nimi"));

        if (byKoodi)
            q.param(QStringLiteral("koodi")).setText(koodi);
        if (byNimi)  // the name as typed, blanks kept, inside wildcards
            q.param(QStringLiteral("nimi")).setText(QLatin1Char('%') + tyonimi.toUpper() + QLatin1Char('%'));
        q.open();
    } catch (const std::exception& e) {
        logFailure(QStringLiteral(" Työvaihehaku: "), QStringLiteral("Työvaihehaku epäonnistui. Syy: ") + messageOf(e));
    }
}

QString TServerMethods1::Asiakashaku(const QString& nimihaku)
{
    try {
        // The statement is fixed; the client sends an upper-case pattern with its own wildcards.
        sqlAsiakashaku.close();
        sqlAsiakashaku.param(QStringLiteral("nimihaku")).setText(nimihaku);
        sqlAsiakashaku.open();
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Asiakashaku epäonnistui. Syy: "), QStringLiteral(" Asiakashaku: "), e);
    }
}

std::optional<TObjectList<types::TTyo>> TServerMethods1::HaeTyomaarayksenTyot(std::int32_t tyomaaraysnro)
{
    db::Query& q = sqlYleinen;
    q.clearSql();
    q.addLine(QStringLiteral("SELECT * FROM MAARTYO"));
    q.addLine(QStringLiteral("WHERE MTR_NRO=:tyomaaraysnro"));
    q.param(QStringLiteral("tyomaaraysnro")).setInteger(tyomaaraysnro);
    QueryCloser closer(q);
    q.open();
    if (q.isEmpty())
        return std::nullopt;

    TObjectList<types::TTyo> tyot;
    tyot.reserve(static_cast<std::size_t>(q.recordCount()));
    for (q.first(); !q.eof(); q.next()) {
        types::TTyo tyo;
        tyo.koodi = q.fieldByName(QStringLiteral("MTR_TYOKOODI")).asText();
        tyo.tehtava = q.fieldByName(QStringLiteral("MTR_TEHTAVA")).asText();
        tyo.rivinro = static_cast<std::int32_t>(q.fieldByName(QStringLiteral("MTR_RIVINRO")).asInteger());
        tyot.push_back(std::move(tyo));
    }
    return tyot;
}

QString TServerMethods1::HaeSisainenSelvitys(std::int32_t tyomaaraysnro)
{
    db::Query& q = sqlYleinen;
    QueryCloser closer(q);
    q.clearSql();
    q.addLine(QStringLiteral("SELECT TYO_SELVITYS2 FROM MAARPER"));
    q.addLine(QStringLiteral("WHERE TYO_NRO=:nro"));
    q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
    q.open();
    // A work order that does not exist reads as an empty explanation.
    const QString selvitys = q.eof() ? QString() : q.fieldByName(QStringLiteral("TYO_SELVITYS2")).asText();
    if (!context_.sisaiseenSelvitykseenTuoterivienNimet || !selvitys.isEmpty())
        return selvitys;

    // No explanation written: the names of the work order's product lines stand in for it.
    q.clearSql();
    q.addLine(QStringLiteral("SELECT TRV_NIMI FROM MAARVOSA"));
    q.addLine(QStringLiteral("WHERE TRV_NRO=:nro"));
    q.addLine(QStringLiteral("ORDER BY JNRO"));
    q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
    q.open();
    QStringList nimet;
    for (q.first(); !q.eof(); q.next())
        nimet.append(q.fieldByName(QStringLiteral("TRV_NIMI")).asText());
    return nimet.join(QStringLiteral("\r\n"));
}

}  // namespace krp
