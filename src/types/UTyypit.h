#pragma once
// Transfer records that the server and its client applications agree on. Plain data holders:
// public fields in declaration order (the order of their JSON "fields"), no validation.
// A new record has every number 0 and every text empty.
#include "credentials/Palvelintunnukset.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace krp::types {

// Days since 30 December 1899 00:00 local time; the fraction is the time of day.
using TDateTime = double;

// An owning list of records. std::optional<TObjectList<T>> is a list that may be absent (null).
template <class T>
using TObjectList = std::vector<T>;

enum class TTarratyyppi : int { ttHintalappu = 0, ttTarralappu = 1 };

struct TVarastoontulorivi {  // goods-receipt row -> KERUUOSTOTILAUS
    QString id;
    std::int32_t ostotilausnro = 0;
    std::int16_t tilausrivinro = 0;
    std::int16_t toimittajanro = 0;
    QString tuotekoodi;
    double saapuvamaara = 0;
    double kerattymaara = 0;
    QString keruupaateid;
};

struct TKerailyrivi {  // picking row -> KERUUTUOTTEET
    QString id;
    std::int32_t toimittajanro = 0;
    QString tuotekoodi;
    double maara = 0;
    QString keruupaateid;
    std::int32_t asiakasnro = 0;
};

struct TInventointirivi {  // stock-count row -> KERUUINVENTOINTI
    QString id;
    std::int32_t toimittajanro = 0;
    QString tuotekoodi;
    double vanha_varastosaldo = 0;
    double uusi_varastosaldo = 0;
    QString keruupaateid;
};

struct TTuotemuutosrivi {  // product-change request -> KERUUTUOTEMUUTOS
    QString id;
    std::int32_t toimittajanro = 0;
    QString tuotekoodi;
    QString nimi;
    QString eankoodi;
    QString hyllypaikka;
    std::int32_t halytysraja = 0;    // -9999: no value
    std::int32_t optimivarasto = 0;  // -9999: no value
};

struct TTyoaikakirjaus {  // work-time entry, from one TYOAIKA row
    std::int32_t tyokirjausnro = 0;
    std::int32_t tyomaaraysnro = 0;
    TDateTime aloitusaika = 0;
    TDateTime lopetusaika = 0;
    QString tyokoodi;
    QString tyonimike;
    QString tekija;
    QString lisatieto;
};

struct TTyo {  // a work item (work phase) of a work order
    QString koodi;
    QString tehtava;
    std::int32_t rivinro = 0;
};

struct TTyorivi {  // a work-order line to add (MAARTYO)
    std::int32_t nro = 0;
    std::int32_t rivinro = 0;
    QString suorittaja;
    std::int32_t asiakasnro = 0;
    QString tyokoodi;
    QString ajoneuvokoodi;
    QString tyoluokka;
    QString tehtava;
    QString lisateksti;
    QString selvitys;
    TDateTime aloitettupvm = 0;
    TDateTime valmispvm = 0;
    double arvioaika = 0;
    double suoritettuaika = 0;
    double laskutettuaika = 0;
    double tuntiveloitus = 0;
    double kiinteahinta = 0;
    double alepros = 0;
    double ale = 0;
    double rivisumma = 0;
    std::int32_t verokanta = 0;
    std::int32_t jro = 0;
    double kpl = 0;
    std::int32_t tyyppi = 0;
    std::int32_t pakettitunnus = 0;
    double ostohinta = 0;
    double kate = 0;
    std::int32_t debet = 0;
    std::int8_t vaurionro = 0;
    QString tyopakkoodi;
    QString viite;
    QString cabaskoodi;
    std::int16_t tyopakhakunro = 0;
    QString rivityyppi;
};

}  // namespace krp::types
