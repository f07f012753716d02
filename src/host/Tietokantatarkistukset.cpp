#include "Tietokantatarkistukset.h"

#include "db/Query.h"

#include <QLocale>

namespace krp {

namespace {

const QString kLisatilat = QStringLiteral("tm lisätilat");

// One settings table: read "tm lisätilat", add the state when missing.
void lisaaTilaTauluun(db::Query& kysely, const QString& taulu, const QString& tila)
{
    const QString lisatilat = HaeAsetus(kysely, kLisatilat, taulu);
    const std::optional<QString> uusi = lisatilatTilanKanssa(lisatilat, tila);
    if (!uusi)
        return;
    kysely.setSql({QStringLiteral("UPDATE %1 SET ARVO=:arvo").arg(taulu), QStringLiteral("WHERE ASETUS=:asetus")});
    kysely.param(QStringLiteral("arvo")).setText(*uusi);
    kysely.param(QStringLiteral("asetus")).setText(kLisatilat);
    kysely.execute();
}

}  // namespace

QString HaeAsetus(db::Query& kysely, const QString& asetus, const QString& taulu)
{
    kysely.setSql({QStringLiteral("SELECT ARVO FROM %1 WHERE ASETUS=:asetus").arg(taulu)});
    kysely.param(QStringLiteral("asetus")).setText(asetus);
    kysely.open();
    const QString arvo = kysely.isEmpty() ? QString() : kysely.fieldByName(QStringLiteral("ARVO")).asText();
    kysely.close();
    return arvo;
}

std::optional<QString> lisatilatTilanKanssa(const QString& lisatilat, const QString& tila)
{
    if (QLocale::system().toUpper(lisatilat).contains(tila))
        return std::nullopt;
    QString uusi = lisatilat + QStringLiteral(",\"") + tila + QLatin1Char('"');
    // A list that was empty (or began with a comma) loses its leading comma. Nothing is cut:
    // a long list keeps its end, with the state just added; a value too long for the column is
    // the database's error, shown to the operator at Start.
    if (uusi.startsWith(QLatin1Char(',')))
        uusi = uusi.mid(1);
    return uusi;
}

void LisaaTyomaarayksenTilaTarvittaessa(db::Query& kysely, const QString& tila)
{
    lisaaTilaTauluun(kysely, QStringLiteral("ASETUS"), tila);

    kysely.setSql({QStringLiteral("SELECT TABLE_NAME FROM TABLES"), QStringLiteral("WHERE TABLE_NAME='ASETUKSET'")});
    kysely.open();
    const bool asetuksetOn = !kysely.isEmpty();
    kysely.close();
    if (asetuksetOn)
        lisaaTilaTauluun(kysely, QStringLiteral("ASETUKSET"), tila);
    kysely.close();
}

void Tietokantatarkistukset(db::Query& kysely)
{
    LisaaTyomaarayksenTilaTarvittaessa(kysely, QStringLiteral("TYÖT OK"));
}

}  // namespace krp
