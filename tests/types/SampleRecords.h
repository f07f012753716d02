#pragma once
// One filled record of each transfer class, with the exact JSON text it is written as
// (outermost object, "id" 1). Shared by the record and protocol tests.
#include "types/UTyypit.h"

#include <string>

namespace krp::testing {

template <class T>
struct Sample;

template <>
struct Sample<types::TVarastoontulorivi> {
    static types::TVarastoontulorivi record()
    {
        types::TVarastoontulorivi r;
        r.id = "VT-1";
        r.ostotilausnro = 123456;
        r.tilausrivinro = 32767;
        r.toimittajanro = -32768;
        r.tuotekoodi = QString::fromUtf8("ÄÖ-123");
        r.saapuvamaara = 2.5;
        r.kerattymaara = 0.1;
        r.keruupaateid = "PAATE1";
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TVarastoontulorivi","id":1,"fields":{"id":"VT-1","ostotilausnro":123456,)"
        R"("tilausrivinro":32767,"toimittajanro":-32768,"tuotekoodi":"ÄÖ-123","saapuvamaara":2.5,)"
        R"("kerattymaara":0.1,"keruupaateid":"PAATE1"}})";
};

template <>
struct Sample<types::TKerailyrivi> {
    static types::TKerailyrivi record()
    {
        types::TKerailyrivi r;
        r.id = "";
        r.toimittajanro = 2147483647;
        r.tuotekoodi = "A\"B\\C";
        r.maara = -0.001;
        r.keruupaateid = "P2";
        r.asiakasnro = -2147483647 - 1;
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TKerailyrivi","id":1,"fields":{"id":"","toimittajanro":2147483647,)"
        R"("tuotekoodi":"A\"B\\C","maara":-0.001,"keruupaateid":"P2","asiakasnro":-2147483648}})";
};

template <>
struct Sample<types::TInventointirivi> {
    static types::TInventointirivi record()
    {
        types::TInventointirivi r;
        r.id = "INV-7";
        r.toimittajanro = 5;
        r.tuotekoodi = "X";
        r.vanha_varastosaldo = 0;
        r.uusi_varastosaldo = 1e-20;
        r.keruupaateid = QString::fromUtf8("å");
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":"INV-7","toimittajanro":5,)"
        R"("tuotekoodi":"X","vanha_varastosaldo":0,"uusi_varastosaldo":1e-20,"keruupaateid":"å"}})";
};

template <>
struct Sample<types::TTuotemuutosrivi> {
    static types::TTuotemuutosrivi record()
    {
        types::TTuotemuutosrivi r;
        r.id = "TM";
        r.toimittajanro = 1;
        r.tuotekoodi = "T1";
        r.nimi = QString::fromUtf8("Ruuvi 5×40 €");
        r.eankoodi = "6417825000012";
        r.hyllypaikka = "A-01";
        r.halytysraja = -9999;
        r.optimivarasto = 40;
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TTuotemuutosrivi","id":1,"fields":{"id":"TM","toimittajanro":1,)"
        R"("tuotekoodi":"T1","nimi":"Ruuvi 5×40 €","eankoodi":"6417825000012","hyllypaikka":"A-01",)"
        R"("halytysraja":-9999,"optimivarasto":40}})";
};

template <>
struct Sample<types::TTyoaikakirjaus> {
    static types::TTyoaikakirjaus record()
    {
        types::TTyoaikakirjaus r;
        r.tyokirjausnro = 77;
        r.tyomaaraysnro = 1001;
        r.aloitusaika = 45000.5;
        r.lopetusaika = 0;
        r.tyokoodi = "K1";
        r.tyonimike = QString::fromUtf8("Öljynvaihto");
        r.tekija = "MATTI";
        r.lisatieto = "rivi1\nrivi2";
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TTyoaikakirjaus","id":1,"fields":{"tyokirjausnro":77,"tyomaaraysnro":1001,)"
        R"("aloitusaika":45000.5,"lopetusaika":0,"tyokoodi":"K1","tyonimike":"Öljynvaihto",)"
        R"("tekija":"MATTI","lisatieto":"rivi1\nrivi2"}})";
};

template <>
struct Sample<types::TTyo> {
    static types::TTyo record()
    {
        types::TTyo r;
        r.koodi = "K2";
        r.tehtava = "Jarrut";
        r.rivinro = 3000;
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TTyo","id":1,"fields":{"koodi":"K2","tehtava":"Jarrut","rivinro":3000}})";
};

template <>
struct Sample<types::TTyorivi> {
    static types::TTyorivi record()
    {
        types::TTyorivi r;
        r.nro = 1;
        r.rivinro = 2;
        r.suorittaja = "S";
        r.asiakasnro = 3;
        r.tyokoodi = "TK";
        r.ajoneuvokoodi = "ABC-123";
        r.tyoluokka = "L";
        r.tehtava = "T";
        r.lisateksti = "LT";
        r.selvitys = "SV";
        r.aloitettupvm = 45123.25;
        r.valmispvm = 45124.75;
        r.arvioaika = 1.5;
        r.suoritettuaika = 2;
        r.laskutettuaika = 2.25;
        r.tuntiveloitus = 89.9;
        r.kiinteahinta = 0;
        r.alepros = 10;
        r.ale = 8.99;
        r.rivisumma = 193.31;
        r.verokanta = 24;
        r.jro = 4000;
        r.kpl = 1;
        r.tyyppi = 5;
        r.pakettitunnus = 6;
        r.ostohinta = 12.34;
        r.kate = 56.78;
        r.debet = 7;
        r.vaurionro = -128;
        r.tyopakkoodi = "TP";
        r.viite = "V";
        r.cabaskoodi = "CB";
        r.tyopakhakunro = 32767;
        r.rivityyppi = "R";
        return r;
    }
    static constexpr const char* json =
        R"({"type":"UTyypit.TTyorivi","id":1,"fields":{"nro":1,"rivinro":2,"suorittaja":"S",)"
        R"("asiakasnro":3,"tyokoodi":"TK","ajoneuvokoodi":"ABC-123","tyoluokka":"L","tehtava":"T",)"
        R"("lisateksti":"LT","selvitys":"SV","aloitettupvm":45123.25,"valmispvm":45124.75,)"
        R"("arvioaika":1.5,"suoritettuaika":2,"laskutettuaika":2.25,"tuntiveloitus":89.9,)"
        R"("kiinteahinta":0,"alepros":10,"ale":8.99,"rivisumma":193.31,"verokanta":24,"jro":4000,)"
        R"("kpl":1,"tyyppi":5,"pakettitunnus":6,"ostohinta":12.34,"kate":56.78,"debet":7,)"
        R"("vaurionro":-128,"tyopakkoodi":"TP","viite":"V","cabaskoodi":"CB","tyopakhakunro":32767,)"
        R"("rivityyppi":"R"}})";
};

}  // namespace krp::testing
