#include "types/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using krp::types::generalNumberText;

namespace {

struct NumberCase {
    double value;
    const char* text;
};

class GeneralNumberText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(GeneralNumberText, WritesShortestFormWithinFifteenDigits)
{
    EXPECT_EQ(generalNumberText(GetParam().value).value_or("<none>"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, GeneralNumberText,
    ::testing::Values(NumberCase{0, "0"}, NumberCase{-0.0, "0"}, NumberCase{2.5, "2.5"}, NumberCase{0.1, "0.1"},
                      NumberCase{0.1 + 0.2, "0.3"}, NumberCase{-12.75, "-12.75"}, NumberCase{100, "100"},
                      NumberCase{1.0 / 3.0, "0.333333333333333"}, NumberCase{2.0 / 3.0, "0.666666666666667"},
                      NumberCase{45000.5, "45000.5"}, NumberCase{1e14, "100000000000000"},
                      NumberCase{123456789012345, "123456789012345"}, NumberCase{1e15, "1e15"},
                      NumberCase{1234567890123456, "1.23456789012346e15"}, NumberCase{0.00001, "0.00001"},
                      NumberCase{0.0000123, "0.0000123"}, NumberCase{0.000001, "1e-6"}, NumberCase{1e-20, "1e-20"},
                      NumberCase{-2.5e-7, "-2.5e-7"}, NumberCase{DBL_MAX, "1.79769313486232e308"},
                      NumberCase{DBL_TRUE_MIN, "4.94065645841247e-324"}, NumberCase{0.999999999999999949, "1"},
                      NumberCase{9.9999999999999999e14, "1e15"}));

TEST(GeneralNumberTextLimits, NaNAndInfinitiesHaveNoText)
{
    EXPECT_FALSE(generalNumberText(std::nan("")).has_value());
    EXPECT_FALSE(generalNumberText(INFINITY).has_value());
    EXPECT_FALSE(generalNumberText(-INFINITY).has_value());
}

}  // namespace
