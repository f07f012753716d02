#include "types/DateTimeValue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace krp::types;

namespace {

struct DateCase {
    double days;
    QDateTime local;
};

class DayCount : public ::testing::TestWithParam<DateCase> {};

TEST_P(DayCount, ConvertsBothWays)
{
    const auto& c = GetParam();
    EXPECT_EQ(fromTDateTime(c.days), c.local) << c.days;
    EXPECT_DOUBLE_EQ(toTDateTime(c.local), c.days);
}

INSTANTIATE_TEST_SUITE_P(Values, DayCount,
                         ::testing::Values(DateCase{0, QDateTime(QDate(1899, 12, 30), QTime(0, 0))},
                                           DateCase{0.5, QDateTime(QDate(1899, 12, 30), QTime(12, 0))},
                                           DateCase{1.25, QDateTime(QDate(1899, 12, 31), QTime(6, 0))},
                                           DateCase{-1.25, QDateTime(QDate(1899, 12, 29), QTime(6, 0))},
                                           DateCase{2, QDateTime(QDate(1900, 1, 1), QTime(0, 0))},
                                           DateCase{45658.75, QDateTime(QDate(2025, 1, 1), QTime(18, 0))}));

TEST(DayCountLimits, MillisecondsAreKept)
{
    const QDateTime t(QDate(2024, 3, 5), QTime(13, 45, 12, 345));
    EXPECT_EQ(fromTDateTime(toTDateTime(t)), t);
}

TEST(DayCountLimits, RoundingJustBelowMidnightGivesTheNextDay)
{
    EXPECT_EQ(fromTDateTime(45000.0 - 1e-10), QDateTime(QDate(2023, 3, 15), QTime(0, 0)));
    EXPECT_EQ(fromTDateTime(-2.0 + 1e-10), QDateTime(QDate(1899, 12, 28), QTime(0, 0)));
}

TEST(DayCountLimits, InvalidTimeIsZeroAndNonNumbersNoTime)
{
    EXPECT_EQ(toTDateTime(QDateTime()), 0.0);
    EXPECT_FALSE(fromTDateTime(std::nan("")).isValid());
    EXPECT_FALSE(fromTDateTime(1e300).isValid());
}

TEST(DayCountLimits, TimeInADaylightSavingGapStaysValid)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Helsinki");
    tzset();
    // 31 March 2024: clocks go from 03:00 to 04:00 in Helsinki.
    const double days = QDate(1899, 12, 30).daysTo(QDate(2024, 3, 31)) + 3.5 / 24.0;
    const QDateTime t = fromTDateTime(days);
    EXPECT_TRUE(t.isValid());
    EXPECT_EQ(t.date(), QDate(2024, 3, 31));
    EXPECT_EQ(t.time(), QTime(4, 30));
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
}

}  // namespace
