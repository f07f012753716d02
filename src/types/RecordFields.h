#pragma once
// The field table of each record class: name, type and member, in declaration order. The JSON
// writer and reader walk these tables instead of knowing the classes one by one.
#include "UTyypit.h"

#include <cstdint>
#include <span>
#include <variant>

namespace krp::types::detail {

template <class R>
struct FieldDef {
    const char* name;
    std::variant<QString R::*, std::int8_t R::*, std::int16_t R::*, std::int32_t R::*, double R::*> member;
};

template <class R>
struct RecordClass;  // name and fields of R

#define KRP_FIELD(R, f) \
    FieldDef<R>         \
    {                   \
#f, &R::f       \
    }

template <>
struct RecordClass<TVarastoontulorivi> {
    using R = TVarastoontulorivi;
    static constexpr const char* name = "TVarastoontulorivi";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, id),         KRP_FIELD(R, ostotilausnro), KRP_FIELD(R, tilausrivinro), KRP_FIELD(R, toimittajanro),
        KRP_FIELD(R, tuotekoodi), KRP_FIELD(R, saapuvamaara),  KRP_FIELD(R, kerattymaara),  KRP_FIELD(R, keruupaateid),
    };
};

template <>
struct RecordClass<TKerailyrivi> {
    using R = TKerailyrivi;
    static constexpr const char* name = "TKerailyrivi";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, id),    KRP_FIELD(R, toimittajanro), KRP_FIELD(R, tuotekoodi),
        KRP_FIELD(R, maara), KRP_FIELD(R, keruupaateid),  KRP_FIELD(R, asiakasnro),
    };
};

template <>
struct RecordClass<TInventointirivi> {
    using R = TInventointirivi;
    static constexpr const char* name = "TInventointirivi";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, id),
        KRP_FIELD(R, toimittajanro),
        KRP_FIELD(R, tuotekoodi),
        KRP_FIELD(R, vanha_varastosaldo),
        KRP_FIELD(R, uusi_varastosaldo),
        KRP_FIELD(R, keruupaateid),
    };
};

template <>
struct RecordClass<TTuotemuutosrivi> {
    using R = TTuotemuutosrivi;
    static constexpr const char* name = "TTuotemuutosrivi";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, id),       KRP_FIELD(R, toimittajanro), KRP_FIELD(R, tuotekoodi),  KRP_FIELD(R, nimi),
        KRP_FIELD(R, eankoodi), KRP_FIELD(R, hyllypaikka),   KRP_FIELD(R, halytysraja), KRP_FIELD(R, optimivarasto),
    };
};

template <>
struct RecordClass<TTyoaikakirjaus> {
    using R = TTyoaikakirjaus;
    static constexpr const char* name = "TTyoaikakirjaus";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, tyokirjausnro), KRP_FIELD(R, tyomaaraysnro), KRP_FIELD(R, aloitusaika), KRP_FIELD(R, lopetusaika),
        KRP_FIELD(R, tyokoodi),      KRP_FIELD(R, tyonimike),     KRP_FIELD(R, tekija),      KRP_FIELD(R, lisatieto),
    };
};

template <>
struct RecordClass<TTyo> {
    using R = TTyo;
    static constexpr const char* name = "TTyo";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, koodi),
        KRP_FIELD(R, tehtava),
        KRP_FIELD(R, rivinro),
    };
};

template <>
struct RecordClass<TTyorivi> {
    using R = TTyorivi;
    static constexpr const char* name = "TTyorivi";
    static constexpr FieldDef<R> fields[] = {
        KRP_FIELD(R, nro),
        KRP_FIELD(R, rivinro),
        KRP_FIELD(R, suorittaja),
        KRP_FIELD(R, asiakasnro),
        KRP_FIELD(R, tyokoodi),
        KRP_FIELD(R, ajoneuvokoodi),
        KRP_FIELD(R, tyoluokka),
        KRP_FIELD(R, tehtava),
        KRP_FIELD(R, lisateksti),
        KRP_FIELD(R, selvitys),
        KRP_FIELD(R, aloitettupvm),
        KRP_FIELD(R, valmispvm),
        KRP_FIELD(R, arvioaika),
        KRP_FIELD(R, suoritettuaika),
        KRP_FIELD(R, laskutettuaika),
        KRP_FIELD(R, tuntiveloitus),
        KRP_FIELD(R, kiinteahinta),
        KRP_FIELD(R, alepros),
        KRP_FIELD(R, ale),
        KRP_FIELD(R, rivisumma),
        KRP_FIELD(R, verokanta),
        KRP_FIELD(R, jro),
        KRP_FIELD(R, kpl),
        KRP_FIELD(R, tyyppi),
        KRP_FIELD(R, pakettitunnus),
        KRP_FIELD(R, ostohinta),
        KRP_FIELD(R, kate),
        KRP_FIELD(R, debet),
        KRP_FIELD(R, vaurionro),
        KRP_FIELD(R, tyopakkoodi),
        KRP_FIELD(R, viite),
        KRP_FIELD(R, cabaskoodi),
        KRP_FIELD(R, tyopakhakunro),
        KRP_FIELD(R, rivityyppi),
    };
};

#undef KRP_FIELD

// Every record class, for the names the reader recognises.
#define KRP_FOR_EACH_RECORD_CLASS(X) \
    X(TVarastoontulorivi) X(TKerailyrivi) X(TInventointirivi) X(TTuotemuutosrivi) X(TTyoaikakirjaus) X(TTyo) X(TTyorivi)

}  // namespace krp::types::detail
