#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

QString TServerMethods1::LisaaInventointirivi(const std::optional<types::TInventointirivi>& /*Rivi*/)
{
    throw MethodError(QStringLiteral("LisaaInventointirivi: ei vielä käytössä"));
}

QString TServerMethods1::LisaaTuotemuutosrivi(const std::optional<types::TTuotemuutosrivi>& /*Rivi*/)
{
    throw MethodError(QStringLiteral("LisaaTuotemuutosrivi: ei vielä käytössä"));
}

}  // namespace krp
