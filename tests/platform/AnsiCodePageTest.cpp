#include "platform/AnsiCodePage.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace krp::platform;

namespace {

TEST(AnsiCodePageTest, WindowsLettersStayAndOthersBecomeBestFitOrQuestionMark)
{
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"Äänekoski Öljy Åbo € ß", "Äänekoski Öljy Åbo € ß"}, Case{"Łódź", "Lódz"},
                          Case{"Őrség ş", "Orség s"}, Case{"漢字 ok", "?? ok"}}) {
        EXPECT_EQ(throughAnsiCodePage(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    }
}

TEST(AnsiCodePageTest, BytesAreWindows1252)
{
    EXPECT_EQ(toAnsi(QStringLiteral("ä€")), QByteArray("\xe4\x80"));
    EXPECT_EQ(fromAnsi(QByteArray("\xc5\xe4\x80\x81")), QString::fromUtf8("Åä€\xc2\x81"));
}

TEST(AnsiCodePageTest, ResultDoesNotDependOnTheProcessLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const QString inC = throughAnsiCodePage(QStringLiteral("Łódź"));
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(inC, QStringLiteral("Lódz"));
}

}  // namespace
