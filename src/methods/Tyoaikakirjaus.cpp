// Work time of mechanics: time entries (TYOAIKA) started and ended on a work order, with their
// work phase and note.
#include "methods/KeyNumbering.h"
#include "methods/MethodError.h"
#include "methods/MethodSupport.h"
#include "methods/QueryCloser.h"
#include "methods/ServerMethodsUnit1.h"
#include "types/DateTimeValue.h"

#include <QLocale>

namespace krp {

namespace {

// Time entries keep whole seconds.
QDateTime nowToTheSecond()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QTime t = now.time();
    return QDateTime(now.date(), QTime(t.hour(), t.minute(), t.second()));
}

// An entry counts as started when it began within the last 1200 months; a missing start reads
// as the zero date-time, a century and more ago.
bool isStarted(const types::TTyoaikakirjaus& kirjaus)
{
    return kirjaus.aloitusaika > types::toTDateTime(QDateTime::currentDateTime().addMonths(-1200));
}

// User names match without regard to letter case, under the machine's own locale.
bool sameUser(const QString& a, const QString& b)
{
    const QLocale locale = QLocale::system();
    return locale.toLower(a) == locale.toLower(b);
}

// The first `count` characters of `text`, never ending in half of a surrogate pair.
QString leftWhole(const QString& text, qsizetype count)
{
    if (text.size() <= count)
        return text;
    if (count > 0 && text.at(count - 1).isHighSurrogate())
        --count;
    return text.left(count);
}

}  // namespace

types::TTyoaikakirjaus TServerMethods1::HaeTyoaikakirjaus(std::int32_t tyokirjausnro)
{
    db::Query& q = sqlYleinen;
    QueryCloser closer(q);
    q.clearSql();
    q.addLine(QStringLiteral("SELECT * FROM TYOAIKA"));
    q.addLine(QStringLiteral("WHERE TYA_NRO=:tyokirjausnro"));
    q.param(QStringLiteral("tyokirjausnro")).setInteger(tyokirjausnro);
    q.open();
    if (q.isEmpty()) {
        throw MethodError(
            QStringLiteral("HaeTyoaikakirjaus: Työkirjausnumerolla %1 ei löyty työaikakirjausta.").arg(tyokirjausnro));
    }

    types::TTyoaikakirjaus kirjaus;
    kirjaus.tyokirjausnro = tyokirjausnro;
    kirjaus.tyomaaraysnro = static_cast<std::int32_t>(q.fieldByName(QStringLiteral("TYA_TYONRO")).asInteger());
    kirjaus.aloitusaika = types::toTDateTime(q.fieldByName(QStringLiteral("TYA_ALKUKLO")).asDateTime());
    kirjaus.lopetusaika = types::toTDateTime(q.fieldByName(QStringLiteral("TYA_LOPPUKLO")).asDateTime());
    kirjaus.tyokoodi = q.fieldByName(QStringLiteral("TYA_TYOKOODI")).asText();
    kirjaus.tyonimike = q.fieldByName(QStringLiteral("TYA_TYONIMIKE")).asText();
    kirjaus.tekija = q.fieldByName(QStringLiteral("TYA_TEKIJA")).asText();
    kirjaus.lisatieto = q.fieldByName(QStringLiteral("TYA_LISATIETO")).asText();
    return kirjaus;
}

types::TTyoaikakirjaus TServerMethods1::KirjaaTyonAloitus(std::int32_t tyomaaraysnro)
{
    const QDateTime alkuaika = nowToTheSecond();
    db::Query& q = sqlYleinen;

    // Time is recorded only on a work order that exists.
    q.clearSql();
    q.addLine(QStringLiteral("SELECT TYO_NRO FROM MAARPER"));
    q.addLine(QStringLiteral("WHERE TYO_NRO=:nro"));
    q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
    q.open();
    const bool tyomaaraysOn = !q.isEmpty();
    q.close();
    if (!tyomaaraysOn)
        throw MethodError(QStringLiteral("KirjaaTyonAloitus: Työmääräystä %1 ei löydy.").arg(tyomaaraysnro));

    const std::int32_t tyokirjausnro = numberUnderLock(KeyNumberingLocks::tyoaika(), [&](int) {
        q.clearSql();
        q.addLine(QStringLiteral("SELECT MAX(TYA_NRO) FROM TYOAIKA"));
        q.open();
        const auto uusiNro = static_cast<std::int32_t>(q.field(0).asInteger() + 1);

        q.clearSql();
        q.addLine(QStringLiteral("INSERT INTO TYOAIKA(TYA_NRO,TYA_TYONRO,TYA_VAIHENRO,"));
        q.addLine(QStringLiteral("TYA_VAATIVUUS,TYA_ALKUKLO,TYA_TEKIJA,TYA_TYOKOODI,"));
        q.addLine(QStringLiteral("TYA_TYONIMIKE,TYA_TYOJOHT,TYA_LISATIETO"));
        q.addLine(QStringLiteral(")"));
        q.addLine(QStringLiteral("VALUES (:tyokirjausnro,:tyonro,0,0,:alkuaika,:tekija,"));
        q.addLine(QStringLiteral("NULL,NULL,NULL,NULL"));
        q.addLine(QStringLiteral(")"));
        q.param(QStringLiteral("tyokirjausnro")).setInteger(uusiNro);
        q.param(QStringLiteral("tyonro")).setInteger(tyomaaraysnro);
        q.param(QStringLiteral("alkuaika")).setDateTime(alkuaika);
        q.param(QStringLiteral("tekija")).setText(FKayttajatunnus);
        q.execute();
        return uusiNro;
    });
    return HaeTyoaikakirjaus(tyokirjausnro);
}

types::TTyoaikakirjaus TServerMethods1::KirjaaTyonLopetus(std::int32_t tyokirjausnro)
{
    types::TTyoaikakirjaus kirjaus;
    try {
        kirjaus = HaeTyoaikakirjaus(tyokirjausnro);
    } catch (const std::exception& e) {
        throw MethodError(QStringLiteral("KirjaaTyonLopetus: Työaikakirjauksen hakeminen epäonnistui. Virhe: ") +
                          messageOf(e));
    }

    if (!isStarted(kirjaus))
        throw MethodError(QStringLiteral("KirjaaTyonLopetus: Työtä ei ole aloitettu, joten lopetusta ei voi kirjata."));
    if (!sameUser(kirjaus.tekija, FKayttajatunnus)) {
        throw MethodError(QStringLiteral("KirjaaTyonLopetus: Työn on kirjannut aloitetuksi toinen käyttäjä %1. "
                                         "Toisen käyttäjän töitä ei voi kirjata lopetetuksi.")
                              .arg(kirjaus.tekija));
    }

    const QDateTime loppuaika = nowToTheSecond();
    db::Query& q = sqlYleinen;
    q.clearSql();
    q.addLine(QStringLiteral("UPDATE TYOAIKA SET TYA_LOPPUKLO=:aika"));
    q.addLine(QStringLiteral("WHERE TYA_NRO=:tyokirjausnro"));
    q.param(QStringLiteral("tyokirjausnro")).setInteger(tyokirjausnro);
    q.param(QStringLiteral("aika")).setDateTime(loppuaika);
    q.execute();
    kirjaus.lopetusaika = types::toTDateTime(loppuaika);
    return kirjaus;
}

std::optional<TObjectList<types::TTyoaikakirjaus>> TServerMethods1::HaeAvoimetTyoaikakirjaukset(
    std::int32_t tyomaaraysnro)
{
    // A query of its own: every entry is read through sqlYleinen while these rows are walked.
    db::Query avoimet(db_);
    avoimet.addLine(QStringLiteral("SELECT TYA_NRO FROM TYOAIKA"));
    avoimet.addLine(
        QStringLiteral("WHERE TYA_TYONRO=:tyomaaraysnro AND (TYA_LOPPUKLO IS NULL OR TYA_LOPPUKLO<'1900-1-1') AND "
                       "TYA_TEKIJA=:kayttajatunnus"));
    avoimet.param(QStringLiteral("tyomaaraysnro")).setInteger(tyomaaraysnro);
    avoimet.param(QStringLiteral("kayttajatunnus")).setText(FKayttajatunnus);
    avoimet.open();
    if (avoimet.isEmpty())
        return std::nullopt;

    TObjectList<types::TTyoaikakirjaus> kirjaukset;
    kirjaukset.reserve(static_cast<std::size_t>(avoimet.recordCount()));
    for (avoimet.first(); !avoimet.eof(); avoimet.next()) {
        const auto nro = static_cast<std::int32_t>(avoimet.fieldByName(QStringLiteral("TYA_NRO")).asInteger());
        kirjaukset.push_back(HaeTyoaikakirjaus(nro));
    }
    return kirjaukset;
}

bool TServerMethods1::AsetaTyovaihe(std::int32_t tyokirjausnro, const std::optional<types::TTyo>& Tyo)
{
    db::Query& q = sqlYleinen;
    q.clearSql();
    q.addLine(QStringLiteral("UPDATE TYOAIKA SET TYA_TYONIMIKE=:tyonimike,TYA_TYOKOODI=:koodi,TYA_VAIHENRO=:rivinro"));
    q.addLine(QStringLiteral("WHERE TYA_NRO=:tyokirjausnro"));
    q.param(QStringLiteral("tyokirjausnro")).setInteger(tyokirjausnro);
    q.param(QStringLiteral("tyonimike")).setText(Tyo ? Tyo->tehtava : QString());
    q.param(QStringLiteral("koodi")).setText(Tyo ? Tyo->koodi : QString());
    q.param(QStringLiteral("rivinro")).setInteger(Tyo ? Tyo->rivinro : 0);
    q.execute();

    // A named task also renames the task of the work order's work line.
    if (Tyo && Tyo->rivinro > 0 && !trimControl(Tyo->tehtava).isEmpty()) {
        q.clearSql();
        q.addLine(QStringLiteral("SELECT TYA_TYONRO FROM TYOAIKA"));
        q.addLine(QStringLiteral("WHERE TYA_NRO=:nro"));
        q.param(QStringLiteral("nro")).setInteger(tyokirjausnro);
        q.open();
        const auto tyomaaraysnro = q.eof() ? std::int64_t{0} : q.fieldByName(QStringLiteral("TYA_TYONRO")).asInteger();
        q.close();
        if (tyomaaraysnro > 0) {
            q.clearSql();
            q.addLine(QStringLiteral("UPDATE MAARTYO SET MTR_TEHTAVA=:tehtava"));
            q.addLine(QStringLiteral("WHERE MTR_NRO=:nro AND MTR_RIVINRO=:rivinro"));
            q.param(QStringLiteral("nro")).setInteger(tyomaaraysnro);
            q.param(QStringLiteral("rivinro")).setInteger(Tyo->rivinro);
            q.param(QStringLiteral("tehtava")).setText(Tyo->tehtava);
            q.execute();
        }
    }
    return true;
}

bool TServerMethods1::AsetaTyovaiheenLisatieto(std::int32_t tyokirjausnro, const QString& lisatieto)
{
    db::Query& q = sqlYleinen;
    q.clearSql();
    q.addLine(QStringLiteral("UPDATE TYOAIKA SET TYA_LISATIETO=:lisatieto"));
    q.addLine(QStringLiteral("WHERE TYA_NRO=:tyokirjausnro"));
    q.param(QStringLiteral("tyokirjausnro")).setInteger(tyokirjausnro);
    q.param(QStringLiteral("lisatieto")).setText(leftWhole(lisatieto, 255));
    q.execute();
    return true;
}

}  // namespace krp
