// Line sum and margin of a work line.
#include "methods/TyorivinHinta.h"

#include <gtest/gtest.h>

namespace {

struct HintaCase {
    const char* name;
    double tuntiveloitus;
    double laskutettuaika;
    double kiinteahinta;
    double kpl;
    double ostohinta;
    double alepros;
    double rivisumma;
    double kate;
};

class TyorivinHintaTest : public ::testing::TestWithParam<HintaCase> {};

TEST_P(TyorivinHintaTest, SumAndMargin)
{
    const HintaCase& c = GetParam();
    krp::types::TTyorivi rivi;
    rivi.tuntiveloitus = c.tuntiveloitus;
    rivi.laskutettuaika = c.laskutettuaika;
    rivi.kiinteahinta = c.kiinteahinta;
    rivi.kpl = c.kpl;
    rivi.ostohinta = c.ostohinta;
    rivi.alepros = 55;  // what the client sent plays no part; the customer's discount is passed
    const krp::TyorivinHinta hinta = krp::hinnoitteleTyorivi(rivi, c.alepros);
    EXPECT_EQ(hinta.rivisumma, c.rivisumma);  // exact: the cents are rounded values
    EXPECT_NEAR(hinta.kate, c.kate, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Tyorivit, TyorivinHintaTest,
                         ::testing::Values(
                             // hourly: 80 x 1.5 = 120.00, less 10 % = 108.00; margin (80 - 30) x 1.5
                             HintaCase{"hourly_discounted", 80, 1.5, 0, 7, 30, 10, 108.0, 75.0},
                             // exact halves of a cent go to the even cent
                             HintaCase{"fixed_half_down_to_even", 0, 3, 0.125, 1, 0, 0, 0.12, 0.125},
                             HintaCase{"fixed_half_up_to_even", 0, 3, 0.375, 1, 0, 0, 0.38, 0.375},
                             HintaCase{"fixed_half_62", 0, 3, 0.625, 1, 0, 0, 0.62, 0.625},
                             // a fixed price is charged per piece, the hours do not count
                             HintaCase{"fixed_per_piece", 50, 9, 12.5, 4, 10, 0, 50.0, 10.0},
                             // a negative fixed price is still a fixed price
                             HintaCase{"fixed_negative", 50, 9, -10, 2, 0, 0, -20.0, -20.0},
                             // the whole line discounted away still has a sum of 0
                             HintaCase{"discount_100", 80, 2, 0, 0, 20, 100, 0.0, 120.0},
                             // the base is rounded to cents before the discount: 33.333 -> 33.33, half of it 16.665
                             // lies just below the half cent as a real number
                             HintaCase{"base_rounded_first", 33.333, 1, 0, 0, 0, 50, 16.66, 33.333},
                             // the margin is neither rounded nor discounted
                             HintaCase{"margin_unrounded", 0, 0, 10.004, 3, 0.002, 20, 24.01, 30.006}),
                         [](const ::testing::TestParamInfo<HintaCase>& info) { return std::string(info.param.name); });

}  // namespace
