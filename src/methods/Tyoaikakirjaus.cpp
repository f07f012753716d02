#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

types::TTyoaikakirjaus TServerMethods1::KirjaaTyonAloitus(std::int32_t /*tyomaaraysnro*/)
{
    throw MethodError(QStringLiteral("KirjaaTyonAloitus: ei vielä käytössä"));
}

types::TTyoaikakirjaus TServerMethods1::KirjaaTyonLopetus(std::int32_t /*tyokirjausnro*/)
{
    throw MethodError(QStringLiteral("KirjaaTyonLopetus: ei vielä käytössä"));
}

types::TTyoaikakirjaus TServerMethods1::HaeTyoaikakirjaus(std::int32_t /*tyokirjausnro*/)
{
    throw MethodError(QStringLiteral("HaeTyoaikakirjaus: ei vielä käytössä"));
}

std::optional<TObjectList<types::TTyoaikakirjaus>> TServerMethods1::HaeAvoimetTyoaikakirjaukset(std::int32_t /*tyomaaraysnro*/)
{
    throw MethodError(QStringLiteral("HaeAvoimetTyoaikakirjaukset: ei vielä käytössä"));
}

bool TServerMethods1::AsetaTyovaihe(std::int32_t /*tyokirjausnro*/, const std::optional<types::TTyo>& /*Tyo*/)
{
    throw MethodError(QStringLiteral("AsetaTyovaihe: ei vielä käytössä"));
}

bool TServerMethods1::AsetaTyovaiheenLisatieto(std::int32_t /*tyokirjausnro*/, const QString& /*lisatieto*/)
{
    throw MethodError(QStringLiteral("AsetaTyovaiheenLisatieto: ei vielä käytössä"));
}

}  // namespace krp
