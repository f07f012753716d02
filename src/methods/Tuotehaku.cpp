#include "methods/ServerMethodsUnit1.h"
#include "methods/MethodError.h"

namespace krp {

QString TServerMethods1::MonivaiheinenTuotehaku(std::int32_t /*toimittajanro*/, const QString& /*hakukoodi*/)
{
    throw MethodError(QStringLiteral("MonivaiheinenTuotehaku: ei vielä käytössä"));
}

QString TServerMethods1::MonivaiheinenTuotehakuNormaali(std::int32_t /*toimittajanro*/, const QString& /*hakukoodi*/)
{
    throw MethodError(QStringLiteral("MonivaiheinenTuotehakuNormaali: ei vielä käytössä"));
}

}  // namespace krp
