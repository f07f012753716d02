#include "PublishedMethods.h"

namespace krp {

namespace {

protocol::MethodRegistry<TServerMethods1> buildRegistry()
{
    using M = TServerMethods1;
    constexpr auto R = protocol::Effect::Reads;
    constexpr auto W = protocol::Effect::Writes;  // inserts or updates rows of the database
    protocol::MethodRegistry<M> r;
    // In declaration order; each with whether it may change the database.
    r.add("TarkistaKayttooikeus", &M::TarkistaKayttooikeus, {"sovellusavain", "kayttajatunnus", "salasana"}, R);
    r.add("MonivaiheinenTuotehaku", &M::MonivaiheinenTuotehaku, {"toimittajanro", "hakukoodi"}, R);
    r.add("Tuotetiedot", &M::Tuotetiedot, {"tuotekoodi", "toimittajanro", "kentat"}, R);
    r.add("TuotetyypinTuotteet", &M::TuotetyypinTuotteet, {"tyyppikoodi"}, R);
    r.add("TuotteenOstotilausrivit", &M::TuotteenOstotilausrivit, {"tuotekoodi", "toimittajanro"}, R);
    r.add("LisaaVarastoontulorivit", &M::LisaaVarastoontulorivit, {"Rivit"}, W);
    r.add("LisaaTarratulostus", &M::LisaaTarratulostus, {"tuotekoodi", "toimittajanro", "maara"}, W);
    r.add("HaeToimittajanimi", &M::HaeToimittajanimi, {"toimittajanro"}, R);
    r.add("LisaaTuotemuutosrivi", &M::LisaaTuotemuutosrivi, {"Rivi"}, W);
    r.add("LisaaKerailyrivit", &M::LisaaKerailyrivit, {"Rivit"}, W);
    r.add("MonivaiheinenTuotehakuNormaali", &M::MonivaiheinenTuotehakuNormaali, {"toimittajanro", "hakukoodi"}, R);
    r.add("LisaaHintalappuTulostus", &M::LisaaHintalappuTulostus, {"tuotekoodi", "toimittajanro", "maara"}, W);
    r.add("TuotettaVarastoonkirjausjonossa", &M::TuotettaVarastoonkirjausjonossa,
          {"tuotekoodi", "toimittajanro", "ostotilausnro", "maara"}, R);
    r.add("LisaaInventointirivi", &M::LisaaInventointirivi, {"Rivi"}, W);
    r.add("InventointiIlmoitus", &M::InventointiIlmoitus, {"tuotekoodi", "toimittajanro"}, R);
    r.add("Asiakashaku", &M::Asiakashaku, {"nimihaku"}, R);
    r.add("Tyomaarayshaku", &M::Tyomaarayshaku, {"reknro", "tyomaaraysnro", "nayta_myos_valmiit"}, R);
    r.add("HaeAvoimetTyoaikakirjaukset", &M::HaeAvoimetTyoaikakirjaukset, {"tyomaaraysnro"}, R);
    r.add("HaeTyoaikakirjaus", &M::HaeTyoaikakirjaus, {"tyokirjausnro"}, R);
    r.add("KirjaaTyonAloitus", &M::KirjaaTyonAloitus, {"tyomaaraysnro"}, W);
    r.add("KirjaaTyonLopetus", &M::KirjaaTyonLopetus, {"tyokirjausnro"}, W);
    r.add("AsetaTyovaihe", &M::AsetaTyovaihe, {"tyokirjausnro", "Tyo"}, W);
    r.add("AsetaTyovaiheenLisatieto", &M::AsetaTyovaiheenLisatieto, {"tyokirjausnro", "lisatieto"}, W);
    r.add("KuittaaValmiiksi", &M::KuittaaValmiiksi, {"tyomaaraysnro"}, W);
    r.add("HaeTyomaarayksenTyot", &M::HaeTyomaarayksenTyot, {"tyomaaraysnro"}, R);
    r.add("Tyovaihehaku", &M::Tyovaihehaku, {"tyokoodi", "tyonimi"}, R);
    r.add("LisaaTyovaiheTyomaaraykselle", &M::LisaaTyovaiheTyomaaraykselle, {"tyomaaraysnro", "Tyorivi"}, W);
    r.add("HaeSisainenSelvitys", &M::HaeSisainenSelvitys, {"tyomaaraysnro"}, R);
    r.add("Ping", &M::Ping, {"sovellus", "clientid"}, R);
    r.add("SovellusSuljetaan", &M::SovellusSuljetaan, {"sovellus", "clientid"}, R);
    return r;
}

}  // namespace

const protocol::MethodRegistry<TServerMethods1>& publishedMethods()
{
    static const protocol::MethodRegistry<TServerMethods1> registry = buildRegistry();
    return registry;
}

bool publishedMethodWrites(std::string_view method)
{
    const protocol::MethodInfo* info = publishedMethods().find(method);
    return info && info->effect == protocol::Effect::Writes;
}

}  // namespace krp
