// The ANSI code page without Qt, as the ERP's ANSI drivers see text: the same cases on Linux
// (Windows-1252 through iconv) and on Windows (the system's ANSI code page, 1252 under the
// Western European locales the customers use, and under Wine's default).
#include "platform/core/AnsiBytes.h"

#include <gtest/gtest.h>

#include <string>

using krp::platform::fromAnsiBytes;
using krp::platform::toAnsiBytes;

namespace {

TEST(AnsiBytes, LettersOfTheCodePageStayOthersBecomeBestFitOrQuestionMark)
{
    struct Case {
        std::u16string in;
        std::string bytes;
    };
    for (const Case& c : {Case{u"Äänekoski Öljy Åbo € ß", "\xC4\xE4nekoski \xD6ljy \xC5\x62o \x80 \xDF"},
                          Case{u"Łódź", "L\xF3\x64z"}, Case{u"漢 ok", "? ok"}, Case{u"", ""}}) {
        EXPECT_EQ(toAnsiBytes(c.in), c.bytes);
    }
}

TEST(AnsiBytes, BytesReadBackAsWindows1252)
{
    EXPECT_EQ(fromAnsiBytes("\xC5\xE4\x80\x9F"), u"Åä€Ÿ");
    EXPECT_EQ(fromAnsiBytes(""), u"");
    // Every byte reads back as one character, and that character converts to the same byte.
    for (int b = 1; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::u16string text = fromAnsiBytes(byte);
        ASSERT_EQ(text.size(), 1u) << b;
        EXPECT_EQ(toAnsiBytes(text), byte) << b;
    }
}

}  // namespace
