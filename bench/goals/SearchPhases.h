#pragma once
// The statements of MonivaiheinenTuotehaku's three phases (by EAN code, by product code, by type
// code), as the method writes them, for the benchmarks' in-process yardsticks.
#include <string>

namespace krp::bench {

// The five lines of phase `phase` (0, 1, 2) with `supplier` and `code` as the parameters'
// markers (":tn" and ":koodi" for SQLite, "?" for ODBC, where the supplier is bound twice).
inline std::string searchPhaseSql(int phase, const std::string& supplier, const std::string& code)
{
    static const char* const columns[3] = {"TP_EANKOODI", "TP_TUOTEKOODI", "TP_TYYPPIKOODI"};
    return "SELECT DISTINCT TP_TUOTEKOODI,TP_TOIMITTAJANRO,TP_NIMI,TP_TYYPPIKOODI,TUOTVAIH.TV_VARASTOSSA "
           "FROM TUOTPER LEFT JOIN TUOTVAIH\n"
           "ON TP_TUOTEKOODI=TV_TUOTEKOODI AND TP_TOIMITTAJANRO=TV_TOIMITTAJANRO\n"
           "JOIN OSTOTILRIV ON TP_TUOTEKOODI=OTR_TUOTEKOODI AND TP_TOIMITTAJANRO=OTR_TOIMITTAJANRO\n"
           "WHERE ((" +
           supplier + "=0) OR (TP_TOIMITTAJANRO=" + supplier + ")) AND " + columns[phase] + "=" + code +
           "\nAND ((IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))>0)";
}

}  // namespace krp::bench
