#include "PublishedMethods.h"

namespace krp {

namespace {

protocol::MethodRegistry<TServerMethods1> buildRegistry()
{
    using M = TServerMethods1;
    constexpr auto R = protocol::Effect::Reads;
    constexpr auto W = protocol::Effect::Writes;  // inserts or updates rows of the database
    // Only stores its arguments or hands work to the window's thread: runs on the I/O thread.
    constexpr auto noDatabase = protocol::DatabaseUse::None;
    protocol::MethodRegistry<M> r;
    // In declaration order; each with whether it may change the database.
    r.add("TarkistaKayttooikeus", &M::TarkistaKayttooikeus, {"sovellusavain", "kayttajatunnus", "salasana"}, R,
          noDatabase);
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
    r.add("Ping", &M::Ping, {"sovellus", "clientid"}, R, noDatabase);
    r.add("SovellusSuljetaan", &M::SovellusSuljetaan, {"sovellus", "clientid"}, R, noDatabase);
    return r;
}

class PublishedSession : public SessionModule {
public:
    explicit PublishedSession(ServiceContext& service) : module_(service) {}

    protocol::CallResult call(std::string_view method, std::string_view body,
                              const protocol::MethodErrorHandler& onError) override
    {
        return publishedMethods().call(module_, method, body, onError);
    }
    db::Query* provider(std::string_view name) override
    {
        return module_.provider(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }

private:
    TServerMethods1 module_;
};

class Published : public MethodModule {
public:
    std::shared_ptr<SessionModule> create(ServiceContext& service) const override
    {
        return std::make_shared<PublishedSession>(service);
    }
    const protocol::MethodInfo* find(std::string_view method) const override { return publishedMethods().find(method); }
    const std::vector<protocol::MethodInfo>& methods() const override { return publishedMethods().methods(); }
};

}  // namespace

const protocol::MethodRegistry<TServerMethods1>& publishedMethods()
{
    static const protocol::MethodRegistry<TServerMethods1> registry = buildRegistry();
    return registry;
}

const MethodModule& publishedModule()
{
    static const Published module;
    return module;
}

}  // namespace krp
