// The published table of TServerMethods1 against the interface clients are built for: names,
// order, parameter names and the types deduced from the C++ signatures; which of them write
// (their keyed repeats are remembered across restarts) and which never wait for the database.
#include "methods/PublishedMethods.h"

#include <gtest/gtest.h>

namespace {

std::string describe(const krp::protocol::MethodInfo& m)
{
    std::string text = m.name + "(";
    for (std::size_t i = 0; i < m.parameters.size(); ++i)
        text += (i ? ", " : "") + m.parameters[i].name + " " + m.parameters[i].type;
    text += ") " + m.resultType;
    if (m.effect == krp::protocol::Effect::Writes)
        text += ", writes";
    if (m.database == krp::protocol::DatabaseUse::None)
        text += ", no database";
    return text;
}

TEST(PublishedMethods, MatchTheInterfaceClientsUse)
{
    const std::vector<std::string> expected = {
        "TarkistaKayttooikeus(sovellusavain text, kayttajatunnus text, salasana text) boolean, no database",
        "MonivaiheinenTuotehaku(toimittajanro integer, hakukoodi text) text",
        "Tuotetiedot(tuotekoodi text, toimittajanro integer, kentat text) text",
        "TuotetyypinTuotteet(tyyppikoodi text) text",
        "TuotteenOstotilausrivit(tuotekoodi text, toimittajanro integer) text",
        "LisaaVarastoontulorivit(Rivit list of TVarastoontulorivi) text, writes",
        "LisaaTarratulostus(tuotekoodi text, toimittajanro integer, maara integer) text, writes",
        "HaeToimittajanimi(toimittajanro integer) text",
        "LisaaTuotemuutosrivi(Rivi TTuotemuutosrivi) text, writes",
        "LisaaKerailyrivit(Rivit list of TKerailyrivi) text, writes",
        "MonivaiheinenTuotehakuNormaali(toimittajanro integer, hakukoodi text) text",
        "LisaaHintalappuTulostus(tuotekoodi text, toimittajanro integer, maara integer) text, writes",
        "TuotettaVarastoonkirjausjonossa(tuotekoodi text, toimittajanro integer, ostotilausnro integer, "
        "maara integer in/out) text",
        "LisaaInventointirivi(Rivi TInventointirivi) text, writes",
        "InventointiIlmoitus(tuotekoodi text, toimittajanro integer) text",
        "Asiakashaku(nimihaku text) text",
        "Tyomaarayshaku(reknro text, tyomaaraysnro integer, nayta_myos_valmiit boolean) dataset",
        "HaeAvoimetTyoaikakirjaukset(tyomaaraysnro integer) list of TTyoaikakirjaus",
        "HaeTyoaikakirjaus(tyokirjausnro integer) TTyoaikakirjaus",
        "KirjaaTyonAloitus(tyomaaraysnro integer) TTyoaikakirjaus, writes",
        "KirjaaTyonLopetus(tyokirjausnro integer) TTyoaikakirjaus, writes",
        "AsetaTyovaihe(tyokirjausnro integer, Tyo TTyo) boolean, writes",
        "AsetaTyovaiheenLisatieto(tyokirjausnro integer, lisatieto text) boolean, writes",
        "KuittaaValmiiksi(tyomaaraysnro integer) boolean, writes",
        "HaeTyomaarayksenTyot(tyomaaraysnro integer) list of TTyo",
        "Tyovaihehaku(tyokoodi text, tyonimi text) none",
        "LisaaTyovaiheTyomaaraykselle(tyomaaraysnro integer, Tyorivi TTyorivi) integer, writes",
        "HaeSisainenSelvitys(tyomaaraysnro integer) text",
        "Ping(sovellus text, clientid text) none, no database",
        "SovellusSuljetaan(sovellus text, clientid text) none, no database",
    };
    std::vector<std::string> actual;
    for (const auto& m : krp::publishedMethods().methods())
        actual.push_back(describe(m));
    EXPECT_EQ(actual, expected);
}

TEST(PublishedMethods, NamesAreCaseSensitive)
{
    EXPECT_TRUE(krp::publishedMethods().contains("Ping"));
    EXPECT_FALSE(krp::publishedMethods().contains("ping"));
    EXPECT_FALSE(krp::publishedMethods().contains("FDYhteysBeforeConnect"));
}

}  // namespace
