#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

std::int32_t TServerMethods1::LisaaTyovaiheTyomaaraykselle(std::int32_t /*tyomaaraysnro*/, const std::optional<types::TTyorivi>& /*Tyorivi*/)
{
    throw MethodError(QStringLiteral("LisaaTyovaiheTyomaaraykselle: ei vielä käytössä"));
}

bool TServerMethods1::KuittaaValmiiksi(std::int32_t /*tyomaaraysnro*/)
{
    throw MethodError(QStringLiteral("KuittaaValmiiksi: ei vielä käytössä"));
}

}  // namespace krp
