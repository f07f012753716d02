#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

QString TServerMethods1::LisaaTarratulostus(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/, std::int32_t /*maara*/)
{
    throw MethodError(QStringLiteral("LisaaTarratulostus: ei vielä käytössä"));
}

QString TServerMethods1::LisaaHintalappuTulostus(const QString& /*tuotekoodi*/, std::int32_t /*toimittajanro*/, std::int32_t /*maara*/)
{
    throw MethodError(QStringLiteral("LisaaHintalappuTulostus: ei vielä käytössä"));
}

}  // namespace krp
