// The column lists Tuotetiedot lets into its statement text.
#include "methods/ColumnList.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    bool accepted;
};

class ColumnListTest : public ::testing::TestWithParam<Case> {};

TEST_P(ColumnListTest, OnlyPlainColumnReferencesPass)
{
    EXPECT_EQ(krp::isColumnList(QString::fromUtf8(GetParam().text)), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ColumnListTest,
    ::testing::Values(
        // column lists
        Case{"TP_NIMI", true}, Case{"TP_NIMI,TV_VARASTOSSA", true}, Case{" TP_NIMI , TV_VARASTOSSA ", true},
        Case{"tp_nimi", true}, Case{"TP_NIMI,\tTV_VARASTOSSA", true}, Case{"TP_NIMI,\r\nTV_VARASTOSSA\n", true},
        Case{"*", true}, Case{"TUOTPER3.*", true}, Case{"*, TUOTVAIH.*", true},
        Case{"TUOTPER3.TP_NIMI, TUOTVAIH.TV_VARASTOSSA", true}, Case{"TUOTPER3 . TP_NIMI", true}, Case{"_X1", true},
        Case{"TP_MÄÄRÄ", true},
        // everything else
        Case{"", false}, Case{" ", false}, Case{"TP_NIMI,", false}, Case{",TP_NIMI", false}, Case{"TP_NIMI,,TV", false},
        Case{"TP_NIMI TV_VARASTOSSA", false}, Case{"TP_NIMI AS X", false}, Case{"TP_NIMI FROM TUOTPER3 --", false},
        Case{"TP_NIMI; DROP TABLE X", false}, Case{"(SELECT ARVO FROM ASETUS)", false}, Case{"COUNT(*)", false},
        Case{"'x'", false}, Case{"\"TP_NIMI\"", false}, Case{"`TP_NIMI`", false}, Case{"[TP_NIMI]", false},
        Case{"TP_NIMI/*", false}, Case{"TP_NIMI#", false}, Case{"TP_NIMI--", false}, Case{"1", false},
        Case{"1TP", false}, Case{"A||B", false}, Case{"A+B", false}, Case{"A.B.C", false}, Case{"*.*", false},
        Case{"TUOTPER3.*.X", false}, Case{"TP_NIMI\nFROM X", false}, Case{"TP-NIMI", false}, Case{"TP_NIMI\x01", false},
        Case{"@@version", false}, Case{"TP_NIMI:tk", false}, Case{":tk", false}, Case{"?", false}));

}  // namespace
