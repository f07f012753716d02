#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

QString TServerMethods1::LisaaVarastoontulorivit(const std::optional<TObjectList<types::TVarastoontulorivi>>& /*Rivit*/)
{
    throw MethodError(QStringLiteral("LisaaVarastoontulorivit: ei vielä käytössä"));
}

QString TServerMethods1::LisaaKerailyrivit(const std::optional<TObjectList<types::TKerailyrivi>>& /*Rivit*/)
{
    throw MethodError(QStringLiteral("LisaaKerailyrivit: ei vielä käytössä"));
}

}  // namespace krp
