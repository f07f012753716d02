// Regional texts: the time text of the log, and the two number forms.
#include "support/QtTestApp.h"
#include "log/DateTimeText.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <cmath>
#include <limits>

using namespace krp;

namespace {

// Newer locale data puts a narrow no-break space before "PM"; older data a blank.
QString samePlainSpaces(QString text)
{
    return text.replace(QChar(0x202F), QLatin1Char(' '));
}

const QDateTime kIltaAika(QDate(2026, 12, 9), QTime(23, 26, 38));
const QDateTime kAamuAika(QDate(2026, 3, 1), QTime(7, 5, 9));
const QDateTime kKeskiyo(QDate(2026, 12, 9), QTime(0, 0));

struct TimeTextCase {
    const char* locale;
    QDateTime time;
    const char* expected;
};

class TimeTextInLocale : public ::testing::TestWithParam<TimeTextCase> {};

TEST_P(TimeTextInLocale, ShortDateBlankLongTimeWithoutZone)
{
    const TimeTextCase& c = GetParam();
    EXPECT_EQ(samePlainSpaces(dateTimeText(c.time, QLocale(QString::fromLatin1(c.locale)))),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Locales, TimeTextInLocale,
                         ::testing::Values(TimeTextCase{"fi_FI", kIltaAika, "9.12.2026 23.26.38"},
                                           TimeTextCase{"fi_FI", kAamuAika, "1.3.2026 7.05.09"},
                                           TimeTextCase{"fi_FI", kKeskiyo, "9.12.2026"},
                                           TimeTextCase{"fi_FI", kKeskiyo.addMSecs(1), "9.12.2026 0.00.00"},
                                           TimeTextCase{"fi_FI", kKeskiyo.addSecs(1), "9.12.2026 0.00.01"},
                                           TimeTextCase{"en_US", kIltaAika, "12/9/26 11:26:38 PM"},
                                           TimeTextCase{"en_US", kKeskiyo, "12/9/26"},
                                           TimeTextCase{"de_DE", kIltaAika, "09.12.26 23:26:38"},
                                           TimeTextCase{"sv_SE", kAamuAika, "2026-03-01 07:05:09"}));

TEST(LongTimeFormat, HasNoZoneToken)
{
    for (const char* name : {"fi_FI", "en_US", "de_DE", "sv_SE", "en_GB", "ja_JP", "ko_KR", "zh_CN", "C"}) {
        const QLocale locale{QString::fromLatin1(name)};
        const QString format = longTimeFormatWithoutZone(locale);
        QString outsideQuotes;
        bool quoted = false;
        for (QChar c : format) {
            if (c == QLatin1Char('\''))
                quoted = !quoted;
            else if (!quoted)
                outsideQuotes += c;
        }
        EXPECT_FALSE(outsideQuotes.contains(QLatin1Char('t'))) << name << ": " << format.toStdString();
        EXPECT_FALSE(format.startsWith(QLatin1Char(' ')) || format.endsWith(QLatin1Char(' '))) << name;
        EXPECT_TRUE(format.contains(QLatin1Char('s'))) << name << ": seconds kept";
    }
}

struct NumberCase {
    double value;
    const char* fi;
    const char* en;
};

class GeneralFloat : public ::testing::TestWithParam<NumberCase> {};

TEST_P(GeneralFloat, FifteenSignificantDigitsSystemSeparatorNoGrouping)
{
    const NumberCase& c = GetParam();
    EXPECT_EQ(generalFloatText(c.value, QLocale(QStringLiteral("fi_FI"))), QString::fromUtf8(c.fi));
    EXPECT_EQ(generalFloatText(c.value, QLocale(QStringLiteral("en_US"))), QString::fromUtf8(c.en));
}

INSTANTIATE_TEST_SUITE_P(
    Values, GeneralFloat,
    ::testing::Values(NumberCase{12.5, "12,5", "12.5"}, NumberCase{0, "0", "0"}, NumberCase{-3, "-3", "-3"},
                      NumberCase{1234567.25, "1234567,25", "1234567.25"}, NumberCase{0.1 + 0.2, "0,3", "0.3"},
                      NumberCase{1.0 / 3.0, "0,333333333333333", "0.333333333333333"},
                      NumberCase{123456789012345.0, "123456789012345", "123456789012345"},
                      NumberCase{1e15, "1E15", "1E15"}, NumberCase{1.5e20, "1,5E20", "1.5E20"},
                      NumberCase{0.00001, "0,00001", "0.00001"}, NumberCase{0.000001, "1E-6", "1E-6"},
                      NumberCase{-0.125, "-0,125", "-0.125"}));

TEST(TwoDecimals, AlwaysTwoDecimalsNoGrouping)
{
    const QLocale fi(QStringLiteral("fi_FI"));
    EXPECT_EQ(twoDecimalsText(108, fi), QStringLiteral("108,00"));
    EXPECT_EQ(twoDecimalsText(1234567.5, fi), QStringLiteral("1234567,50"));
    EXPECT_EQ(twoDecimalsText(0.125, fi), QStringLiteral("0,13"));
    EXPECT_EQ(twoDecimalsText(1.005, fi), QStringLiteral("1,01"));
    EXPECT_EQ(twoDecimalsText(99.995, fi), QStringLiteral("100,00"));
    EXPECT_EQ(twoDecimalsText(-0.125, fi), QStringLiteral("-0,13"));
    EXPECT_EQ(twoDecimalsText(0, fi), QStringLiteral("0,00"));
    EXPECT_EQ(twoDecimalsText(-2.5, fi), QStringLiteral("-2,50"));
    EXPECT_EQ(twoDecimalsText(-0.001, fi), QStringLiteral("0,00"));
    EXPECT_EQ(twoDecimalsText(108, QLocale(QStringLiteral("en_US"))), QStringLiteral("108.00"));
}

// The production functions follow the server machine's regional settings (LANG / LC_ALL),
// also where the C library has no such locale installed. Each locale runs in its own process.
QString probe(const QString& lang)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LC_TIME"));
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("LC_ALL"), lang);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KRP_TIME_TEXT_PROBE), {});
    if (!process.waitForFinished(60000))
        return QStringLiteral("<probe did not finish>");
    return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(SystemLocale, FinnishMachine)
{
    EXPECT_EQ(probe(QStringLiteral("fi_FI.UTF-8")), QStringLiteral("9.12.2026 23.26.38|9.12.2026|12,5|1234,50\n"));
}

TEST(SystemLocale, AmericanMachine)
{
    EXPECT_EQ(samePlainSpaces(probe(QStringLiteral("en_US.UTF-8"))),
              QStringLiteral("12/9/26 11:26:38 PM|12/9/26|12.5|1234.50\n"));
}

}  // namespace
