// Client texts in log lines: no line of their own, no invisible bytes, no megabytes.
#include "log/ClientText.h"

#include <gtest/gtest.h>

namespace krp {
namespace {

TEST(LogSafe, EscapesControlCharactersAndCutsLongTexts)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("Kairanet"), QStringLiteral("Kairanet")},
        {QStringLiteral("a\n01 Jan 2026 00:00:00: FAKE"), QStringLiteral("a\\n01 Jan 2026 00:00:00: FAKE")},
        {QStringLiteral("a\r\nb\tc"), QStringLiteral("a\\r\\nb\\tc")},
        {QString::fromUtf8("nul\0x\x1b[31m\x7f", 11), QStringLiteral("nul\\x00x\\x1b[31m\\x7f")},
        {QString(QChar(0x85)) + QChar(0x2028), QStringLiteral("\\x85\\u2028")},
        {QString::fromUtf8("äö€𝄞\\n"), QString::fromUtf8("äö€𝄞\\n")},  // a backslash stays as it is
        // Bidirectional controls would show the rest of the line reversed or moved.
        {QStringLiteral("tiedosto") + QChar(0x202E) + QStringLiteral("txt.exe"),
         QStringLiteral("tiedosto\\u202etxt.exe")},
        {QString(QChar(0x2066)) + QChar(0x2069) + QChar(0x200E) + QChar(0x200F) + QChar(0x061C) + QChar(0x202A),
         QStringLiteral("\\u2066\\u2069\\u200e\\u200f\\u061c\\u202a")},
        {QString(200, QChar('x')), QString(200, QChar('x'))},
        {QString(201, QChar('x')), QString(200, QChar('x')) + QChar(0x2026)},
        {QString(1'000'000, QChar('\n')),
         QString(200, QChar('\n')).replace(QStringLiteral("\n"), QStringLiteral("\\n")) + QChar(0x2026)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(logSafe(c.in), c.out) << c.in.left(40).toStdString();
}

TEST(LogSafe, NeverCutsACharacterInHalf)
{
    QString text = QString(199, QChar('x')) + QString::fromUtf8("𝄞𝄞");
    EXPECT_EQ(logSafe(text), QString(199, QChar('x')) + QString::fromUtf8("𝄞") + QChar(0x2026));
}

}  // namespace
}  // namespace krp
