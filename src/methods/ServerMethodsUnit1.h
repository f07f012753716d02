#pragma once
// TServerMethods1: the method module. One instance per client session; its queries keep their
// SQL, parameters and rows from one call of the session to the next, and its providers serve
// the rows a method left open. Every query runs on the window's database (pooled connections).
#include "db/Query.h"
#include "methods/ServiceContext.h"
#include "types/UTyypit.h"
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace krp {

using types::TObjectList;

class TServerMethods1 {
public:
    explicit TServerMethods1(ServiceContext& context);
    TServerMethods1(const TServerMethods1&) = delete;
    TServerMethods1& operator=(const TServerMethods1&) = delete;

    // --- published methods, in declaration order -------------------------------------------
    bool TarkistaKayttooikeus(const QString& sovellusavain, const QString& kayttajatunnus, const QString& salasana);
    QString MonivaiheinenTuotehaku(std::int32_t toimittajanro, const QString& hakukoodi);
    QString Tuotetiedot(const QString& tuotekoodi, std::int32_t toimittajanro, const QString& kentat);
    QString TuotetyypinTuotteet(const QString& tyyppikoodi);
    QString TuotteenOstotilausrivit(const QString& tuotekoodi, std::int32_t toimittajanro);
    QString LisaaVarastoontulorivit(const std::optional<TObjectList<types::TVarastoontulorivi>>& Rivit);
    QString LisaaTarratulostus(const QString& tuotekoodi, std::int32_t toimittajanro, std::int32_t maara);
    QString HaeToimittajanimi(std::int32_t toimittajanro);
    QString LisaaTuotemuutosrivi(const std::optional<types::TTuotemuutosrivi>& Rivi);
    QString LisaaKerailyrivit(const std::optional<TObjectList<types::TKerailyrivi>>& Rivit);
    QString MonivaiheinenTuotehakuNormaali(std::int32_t toimittajanro, const QString& hakukoodi);
    QString LisaaHintalappuTulostus(const QString& tuotekoodi, std::int32_t toimittajanro, std::int32_t maara);
    QString TuotettaVarastoonkirjausjonossa(const QString& tuotekoodi, std::int32_t toimittajanro,
                                            std::int32_t ostotilausnro, std::int32_t& maara);
    QString LisaaInventointirivi(const std::optional<types::TInventointirivi>& Rivi);
    QString InventointiIlmoitus(const QString& tuotekoodi, std::int32_t toimittajanro);
    QString Asiakashaku(const QString& nimihaku);
    db::Query* Tyomaarayshaku(const QString& reknro, std::int32_t tyomaaraysnro, bool nayta_myos_valmiit);
    std::optional<TObjectList<types::TTyoaikakirjaus>> HaeAvoimetTyoaikakirjaukset(std::int32_t tyomaaraysnro);
    types::TTyoaikakirjaus HaeTyoaikakirjaus(std::int32_t tyokirjausnro);
    types::TTyoaikakirjaus KirjaaTyonAloitus(std::int32_t tyomaaraysnro);
    types::TTyoaikakirjaus KirjaaTyonLopetus(std::int32_t tyokirjausnro);
    bool AsetaTyovaihe(std::int32_t tyokirjausnro, const std::optional<types::TTyo>& Tyo);
    bool AsetaTyovaiheenLisatieto(std::int32_t tyokirjausnro, const QString& lisatieto);
    bool KuittaaValmiiksi(std::int32_t tyomaaraysnro);
    std::optional<TObjectList<types::TTyo>> HaeTyomaarayksenTyot(std::int32_t tyomaaraysnro);
    void Tyovaihehaku(const QString& tyokoodi, const QString& tyonimi);
    std::int32_t LisaaTyovaiheTyomaaraykselle(std::int32_t tyomaaraysnro,
                                              const std::optional<types::TTyorivi>& Tyorivi);
    QString HaeSisainenSelvitys(std::int32_t tyomaaraysnro);
    void Ping(const QString& sovellus, const QString& clientid);
    void SovellusSuljetaan(const QString& sovellus, const QString& clientid);

    // The query a named provider serves, or nullptr for a name that is no provider.
    db::Query* provider(const QString& name);
    // The names of the providers, in the order of the table.
    static std::vector<std::string> providerNames();

    // Session user and password, as the last TarkistaKayttooikeus left them.
    const QString& kayttajatunnus() const { return FKayttajatunnus; }

private:
    ServiceContext& context_;
    db::Database& db_;

public:
    // Query members (public so tests and the provider table can reach them).
    db::Query FDKysely;
    db::Query FDKysely2;
    db::Query sqlTuotetiedot;
    db::Query sqlTuotetyypinTuotteet;
    db::Query sqlTuotelista;
    db::Query sqlTuotteenOTrivit;                  // fixed SQL
    db::Query sqlVarastoontulorivinLisays;         // fixed SQL
    db::Query sqlTuotemuutosrivinLisays;           // fixed SQL
    db::Query sqlKerailyrivinLisays;               // fixed SQL
    db::Query sqlTuotettaVarastoonkirjausjonossa;  // fixed SQL
    db::Query sqlInventointirivinLisays;           // fixed SQL
    db::Query sqlAsiakashaku;                      // fixed SQL
    db::Query sqlTyomaarayshaku;
    db::Query sqlYleinen;
    db::Query sqlTyovaihehaku;

private:
    QString FSalasana;
    QString FKayttajatunnus;
};

}  // namespace krp
