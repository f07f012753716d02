#pragma once
// What runs on the window's query right after the database connects: the company name for the
// caption, and the work-order state that must be listed in "tm lisätilat".
#include <QString>
#include <optional>

namespace krp::db {
class Query;
}

namespace krp {

// "SELECT ARVO FROM <taulu> WHERE ASETUS=:asetus": ARVO of the first row as text, the empty
// text when no row matches.
QString HaeAsetus(db::Query& kysely, const QString& asetus, const QString& taulu = QStringLiteral("ASETUS"));

// The value "tm lisätilat" should get so that it lists `tila`, or nothing when it already does
// (in any letter case, also inside a longer name). `tila` is given in upper case.
std::optional<QString> lisatilatTilanKanssa(const QString& lisatilat, const QString& tila);

// Makes sure `tila` is listed in "tm lisätilat" of ASETUS, and of ASETUKSET when that table
// exists. Only an existing row is updated; nothing is inserted.
void LisaaTyomaarayksenTilaTarvittaessa(db::Query& kysely, const QString& tila);

// The database checks run after connecting.
void Tietokantatarkistukset(db::Query& kysely);

}  // namespace krp
