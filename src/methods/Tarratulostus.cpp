// Label and price-tag print requests: one KERUUTARRA row per call, with a random KET_ID, the
// server's own clock and the product code trimmed and upper-cased.
#include "methods/ServerMethodsUnit1.h"
#include "methods/KetId.h"
#include "methods/MethodSupport.h"
#include "methods/TextFailure.h"

#include <QDateTime>

namespace krp {

namespace {

// A random KET_ID may hit an identifier already in the table; such a row is tried again with
// a new identifier, this many times in all.
constexpr int ketIdYrityksia = 5;

void lisaaTarrapyynto(db::Query& kysely, const QString& tuotekoodi, std::int32_t toimittajanro, std::int32_t maara,
                      types::TTarratyyppi tyyppi)
{
    kysely.clearSql();
    kysely.addLine(QStringLiteral(
        "INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI)"));
    kysely.addLine(QStringLiteral("VALUES (:p1,:p2,:p3,:p4,:p5,:p6)"));
    kysely.param(QStringLiteral("p1")).setInteger(drawKetId());
    kysely.param(QStringLiteral("p2")).setInteger(toimittajanro);
    kysely.param(QStringLiteral("p3")).setText(trimUpper(tuotekoodi));
    kysely.param(QStringLiteral("p4")).setInteger(maara);
    kysely.param(QStringLiteral("p5")).setDateTime(QDateTime::currentDateTime());
    kysely.param(QStringLiteral("p6")).setInteger(static_cast<int>(tyyppi));
    for (int yritys = 1;; ++yritys) {
        try {
            kysely.execute();
            return;
        } catch (const db::Error& e) {
            if (!e.isDuplicateKey() || yritys >= ketIdYrityksia)
                throw;
            kysely.param(QStringLiteral("p1")).setInteger(drawKetId());
        }
    }
}

}  // namespace

QString TServerMethods1::LisaaTarratulostus(const QString& tuotekoodi, std::int32_t toimittajanro, std::int32_t maara)
{
    try {
        lisaaTarrapyynto(FDKysely, tuotekoodi, toimittajanro, maara, types::TTarratyyppi::ttTarralappu);
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tarratulostuksen lisääminen epäonnistui (tarra). Syy: "),
                                 QStringLiteral(" LisaaTarratulostus: "), e);
    }
}

QString TServerMethods1::LisaaHintalappuTulostus(const QString& tuotekoodi, std::int32_t toimittajanro,
                                                 std::int32_t maara)
{
    try {
        lisaaTarrapyynto(FDKysely, tuotekoodi, toimittajanro, maara, types::TTarratyyppi::ttHintalappu);
        return QString();
    } catch (const std::exception& e) {
        return reportTextFailure(QStringLiteral("Tarratulostuksen lisääminen epäonnistui (hintalappu). Syy: "),
                                 QStringLiteral(" LisaaHintalappuTulostus: "), e);
    }
}

}  // namespace krp
