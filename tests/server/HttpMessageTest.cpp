// The JSON error text of the transport stays valid JSON whatever the message holds.
#include "server/transport/HttpMessage.h"
#include "shared/JsonText.h"

#include <gtest/gtest.h>

namespace krp::transport {
namespace {

TEST(HttpMessageTest, JsonQuotedEscapesAndRepairsText)
{
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"Virheellinen pääsykoodi", "\"Virheellinen pääsykoodi\""},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"rivi 1\r\nrivi 2\t\x01", R"("rivi 1\r\nrivi 2\t\u0001")"},
        {"Latin-1 \xE4", "\"Latin-1 \xEF\xBF\xBD\""},          // ä in a legacy code page
        {"cut \xE2\x82", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\""},  // € without its last byte
        {"overlong \xC0\xAF", "\"overlong \xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"emoji \xF0\x9F\x98\x80", "\"emoji \xF0\x9F\x98\x80\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonQuoted(c.text), c.expected) << c.text;
}

TEST(HttpMessageTest, HeaderLookupIgnoresLetterCase)
{
    HttpRequest request;
    request.headers = {{"authorization", "Bearer x"}, {"Authorization", "Bearer y"}};
    EXPECT_EQ(request.header("AUTHORIZATION"), "Bearer x");
    EXPECT_EQ(request.header("Accept-Encoding"), "");
}

}  // namespace
}  // namespace krp::transport
