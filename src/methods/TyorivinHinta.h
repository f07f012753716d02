#pragma once
// Price of a work line: the line sum charged to the customer and the margin. Sums are rounded to
// cents with exact halves to the even cent; the arithmetic runs in 80-bit extended precision
// and each result is kept as a 64-bit real, so 0.125 x 1 gives 0.12 and 80 x 1.5 less 10 %
// gives exactly 108.
#include "types/UTyypit.h"
#include <cmath>

namespace krp {

struct TyorivinHinta {
    double rivisumma = 0;  // after the customer's discount, in cents
    double kate = 0;       // (unit price - purchase price) x quantity, neither rounded nor discounted
};

// Multiplies by 100, rounds to the nearest integer (halves to even: the default rounding mode),
// multiplies by 0.01.
inline long double pyoristaSenteiksi(long double summa)
{
    return std::nearbyint(summa * 100.0L) * 0.01L;
}

// A fixed unit price (any value but exactly 0) is charged per piece, otherwise the hourly rate
// per charged hour; `alepros` is the customer's discount percentage.
inline TyorivinHinta hinnoitteleTyorivi(const types::TTyorivi& rivi, double alepros)
{
    const bool kiintea = rivi.kiinteahinta != 0;
    const long double hinta = kiintea ? rivi.kiinteahinta : rivi.tuntiveloitus;
    const long double maara = kiintea ? rivi.kpl : rivi.laskutettuaika;

    const auto perushinta = static_cast<double>(pyoristaSenteiksi(hinta * maara));
    TyorivinHinta tulos;
    tulos.rivisumma =
        static_cast<double>(pyoristaSenteiksi((100.0L - alepros) / 100.0L * static_cast<long double>(perushinta)));
    tulos.kate = static_cast<double>((hinta - static_cast<long double>(rivi.ostohinta)) * maara);
    return tulos;
}

}  // namespace krp
