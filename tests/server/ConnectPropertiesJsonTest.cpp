// The body of a session opening: what is read, what is refused, and that no body can crash it.
#include "server/ConnectPropertiesJson.h"

#include <gtest/gtest.h>

namespace krp {
namespace {

TEST(ConnectPropertiesJson, ReadsTheFourPropertiesAndIgnoresOthers)
{
    std::string error;
    const auto p = readConnectProperties(
        R"({"Application":"Kairanet","Token":"t","ApplicationUserName":"ÄIJÄ","ApplicationPassword":"","x":"y"})",
        error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->sovellus, "Kairanet");
    EXPECT_EQ(p->saatu_paasykoodi, "t");
    EXPECT_EQ(p->saatu_kayttajatunnus, QString::fromUtf8("ÄIJÄ"));
    EXPECT_EQ(p->saatu_salasana, "");
}

TEST(ConnectPropertiesJson, RefusesWhatIsNoObjectOfTexts)
{
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"array", "[]"},
        {"not JSON", "{\"Application\":"},
        {"number value", R"({"Token":1})"},
        {"invalid UTF-8", "{\"Application\":\"\xff\"}"},
        {"lone surrogate", R"({"Application":"\udc00"})"},
        // Deep enough to overflow a thread's stack in a recursive parser.
        {"2,000,000 brackets", std::string(2'000'000, '[')},
        {"deep object", std::string(100'000, '{') + std::string(100'000, '}')},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(readConnectProperties(c.body, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

}  // namespace
}  // namespace krp
