#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

QString TServerMethods1::Tuotetiedot(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/, const QString& /*kentat*/)
{
    throw MethodError(QStringLiteral("Tuotetiedot: ei vielä käytössä"));
}

QString TServerMethods1::TuotetyypinTuotteet(const QString& /*tyyppikoodi*/)
{
    throw MethodError(QStringLiteral("TuotetyypinTuotteet: ei vielä käytössä"));
}

QString TServerMethods1::TuotteenOstotilausrivit(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/)
{
    throw MethodError(QStringLiteral("TuotteenOstotilausrivit: ei vielä käytössä"));
}

QString TServerMethods1::TuotettaVarastoonkirjausjonossa(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/, std::int32_t /*ostotilausnro*/, std::int32_t& /*maara*/)
{
    throw MethodError(QStringLiteral("TuotettaVarastoonkirjausjonossa: ei vielä käytössä"));
}

QString TServerMethods1::HaeToimittajanimi(std::int32_t /*toimittajanro*/)
{
    throw MethodError(QStringLiteral("HaeToimittajanimi: ei vielä käytössä"));
}

QString TServerMethods1::InventointiIlmoitus(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/)
{
    throw MethodError(QStringLiteral("InventointiIlmoitus: ei vielä käytössä"));
}

}  // namespace krp
