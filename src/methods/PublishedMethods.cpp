#include "PublishedMethods.h"

namespace krp {

namespace {

protocol::MethodRegistry<TServerMethods1> buildRegistry()
{
    using M = TServerMethods1;
    protocol::MethodRegistry<M> r;
    // In declaration order.
    r.add("TarkistaKayttooikeus", &M::TarkistaKayttooikeus, {"sovellusavain", "kayttajatunnus", "salasana"});
    r.add("MonivaiheinenTuotehaku", &M::MonivaiheinenTuotehaku, {"toimittajanro", "hakukoodi"});
    r.add("Tuotetiedot", &M::Tuotetiedot, {"tuotekoodi", "toimittajanro", "kentat"});
    r.add("TuotetyypinTuotteet", &M::TuotetyypinTuotteet, {"tyyppikoodi"});
    r.add("TuotteenOstotilausrivit", &M::TuotteenOstotilausrivit, {"tuotekoodi", "toimittajanro"});
    r.add("LisaaVarastoontulorivit", &M::LisaaVarastoontulorivit, {"Rivit"});
    r.add("LisaaTarratulostus", &M::LisaaTarratulostus, {"tuotekoodi", "toimittajanro", "maara"});
    r.add("HaeToimittajanimi", &M::HaeToimittajanimi, {"toimittajanro"});
    r.add("LisaaTuotemuutosrivi", &M::LisaaTuotemuutosrivi, {"Rivi"});
    r.add("LisaaKerailyrivit", &M::LisaaKerailyrivit, {"Rivit"});
    r.add("MonivaiheinenTuotehakuNormaali", &M::MonivaiheinenTuotehakuNormaali, {"toimittajanro", "hakukoodi"});
    r.add("LisaaHintalappuTulostus", &M::LisaaHintalappuTulostus, {"tuotekoodi", "toimittajanro", "maara"});
    r.add("TuotettaVarastoonkirjausjonossa", &M::TuotettaVarastoonkirjausjonossa,
          {"tuotekoodi", "toimittajanro", "ostotilausnro", "maara"});
    r.add("LisaaInventointirivi", &M::LisaaInventointirivi, {"Rivi"});
    r.add("InventointiIlmoitus", &M::InventointiIlmoitus, {"tuotekoodi", "toimittajanro"});
    r.add("Asiakashaku", &M::Asiakashaku, {"nimihaku"});
    r.add("Tyomaarayshaku", &M::Tyomaarayshaku, {"reknro", "tyomaaraysnro", "nayta_myos_valmiit"});
    r.add("HaeAvoimetTyoaikakirjaukset", &M::HaeAvoimetTyoaikakirjaukset, {"tyomaaraysnro"});
    r.add("HaeTyoaikakirjaus", &M::HaeTyoaikakirjaus, {"tyokirjausnro"});
    r.add("KirjaaTyonAloitus", &M::KirjaaTyonAloitus, {"tyomaaraysnro"});
    r.add("KirjaaTyonLopetus", &M::KirjaaTyonLopetus, {"tyokirjausnro"});
    r.add("AsetaTyovaihe", &M::AsetaTyovaihe, {"tyokirjausnro", "Tyo"});
    r.add("AsetaTyovaiheenLisatieto", &M::AsetaTyovaiheenLisatieto, {"tyokirjausnro", "lisatieto"});
    r.add("KuittaaValmiiksi", &M::KuittaaValmiiksi, {"tyomaaraysnro"});
    r.add("HaeTyomaarayksenTyot", &M::HaeTyomaarayksenTyot, {"tyomaaraysnro"});
    r.add("Tyovaihehaku", &M::Tyovaihehaku, {"tyokoodi", "tyonimi"});
    r.add("LisaaTyovaiheTyomaaraykselle", &M::LisaaTyovaiheTyomaaraykselle, {"tyomaaraysnro", "Tyorivi"});
    r.add("HaeSisainenSelvitys", &M::HaeSisainenSelvitys, {"tyomaaraysnro"});
    r.add("Ping", &M::Ping, {"sovellus", "clientid"});
    r.add("SovellusSuljetaan", &M::SovellusSuljetaan, {"sovellus", "clientid"});
    return r;
}

}  // namespace

const protocol::MethodRegistry<TServerMethods1>& publishedMethods()
{
    static const protocol::MethodRegistry<TServerMethods1> registry = buildRegistry();
    return registry;
}

}  // namespace krp
