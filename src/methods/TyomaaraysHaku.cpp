#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

db::Query* TServerMethods1::Tyomaarayshaku(const QString& /*reknro*/, std::int32_t /*tyomaaraysnro*/, bool /*nayta_myos_valmiit*/)
{
    throw MethodError(QStringLiteral("Tyomaarayshaku: ei vielä käytössä"));
}

void TServerMethods1::Tyovaihehaku(const QString& /*tyokoodi*/, const QString& /*tyonimi*/)
{
    throw MethodError(QStringLiteral("Tyovaihehaku: ei vielä käytössä"));
}

QString TServerMethods1::Asiakashaku(const QString& /*nimihaku*/)
{
    throw MethodError(QStringLiteral("Asiakashaku: ei vielä käytössä"));
}

std::optional<TObjectList<types::TTyo>> TServerMethods1::HaeTyomaarayksenTyot(std::int32_t /*tyomaaraysnro*/)
{
    throw MethodError(QStringLiteral("HaeTyomaarayksenTyot: ei vielä käytössä"));
}

QString TServerMethods1::HaeSisainenSelvitys(std::int32_t /*tyomaaraysnro*/)
{
    throw MethodError(QStringLiteral("HaeSisainenSelvitys: ei vielä käytössä"));
}

}  // namespace krp
