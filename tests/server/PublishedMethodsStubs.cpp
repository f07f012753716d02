// Empty bodies for the published methods, so that the table of published methods links in a
// test of its own without the database.
#include "methods/ServerMethodsUnit1.h"

namespace krp {

using namespace types;

bool TServerMethods1::TarkistaKayttooikeus(const QString&, const QString&, const QString&) { return true; }
QString TServerMethods1::MonivaiheinenTuotehaku(std::int32_t, const QString&) { return {}; }
QString TServerMethods1::Tuotetiedot(const QString&, std::int32_t, const QString&) { return {}; }
QString TServerMethods1::TuotetyypinTuotteet(const QString&) { return {}; }
QString TServerMethods1::TuotteenOstotilausrivit(const QString&, std::int32_t) { return {}; }
QString TServerMethods1::LisaaVarastoontulorivit(const std::optional<TObjectList<TVarastoontulorivi>>&) { return {}; }
QString TServerMethods1::LisaaTarratulostus(const QString&, std::int32_t, std::int32_t) { return {}; }
QString TServerMethods1::HaeToimittajanimi(std::int32_t) { return {}; }
QString TServerMethods1::LisaaTuotemuutosrivi(const std::optional<TTuotemuutosrivi>&) { return {}; }
QString TServerMethods1::LisaaKerailyrivit(const std::optional<TObjectList<TKerailyrivi>>&) { return {}; }
QString TServerMethods1::MonivaiheinenTuotehakuNormaali(std::int32_t, const QString&) { return {}; }
QString TServerMethods1::LisaaHintalappuTulostus(const QString&, std::int32_t, std::int32_t) { return {}; }
QString TServerMethods1::TuotettaVarastoonkirjausjonossa(const QString&, std::int32_t, std::int32_t, std::int32_t&)
{
    return {};
}
QString TServerMethods1::LisaaInventointirivi(const std::optional<TInventointirivi>&) { return {}; }
QString TServerMethods1::InventointiIlmoitus(const QString&, std::int32_t) { return {}; }
QString TServerMethods1::Asiakashaku(const QString&) { return {}; }
db::Query* TServerMethods1::Tyomaarayshaku(const QString&, std::int32_t, bool) { return nullptr; }
std::optional<TObjectList<TTyoaikakirjaus>> TServerMethods1::HaeAvoimetTyoaikakirjaukset(std::int32_t) { return {}; }
TTyoaikakirjaus TServerMethods1::HaeTyoaikakirjaus(std::int32_t) { return {}; }
TTyoaikakirjaus TServerMethods1::KirjaaTyonAloitus(std::int32_t) { return {}; }
TTyoaikakirjaus TServerMethods1::KirjaaTyonLopetus(std::int32_t) { return {}; }
bool TServerMethods1::AsetaTyovaihe(std::int32_t, const std::optional<TTyo>&) { return false; }
bool TServerMethods1::AsetaTyovaiheenLisatieto(std::int32_t, const QString&) { return false; }
bool TServerMethods1::KuittaaValmiiksi(std::int32_t) { return false; }
std::optional<TObjectList<TTyo>> TServerMethods1::HaeTyomaarayksenTyot(std::int32_t) { return {}; }
void TServerMethods1::Tyovaihehaku(const QString&, const QString&) {}
std::int32_t TServerMethods1::LisaaTyovaiheTyomaaraykselle(std::int32_t, const std::optional<TTyorivi>&) { return 0; }
QString TServerMethods1::HaeSisainenSelvitys(std::int32_t) { return {}; }
void TServerMethods1::Ping(const QString&, const QString&) {}
void TServerMethods1::SovellusSuljetaan(const QString&, const QString&) {}

}  // namespace krp
