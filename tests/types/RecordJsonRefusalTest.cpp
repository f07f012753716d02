// Record and list objects that the reader must refuse, each with a message that names the fault.
#include "types/RecordJson.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace krp::types;

namespace {

// Reads `json` as the given kind; returns the refusal message, or "" when the text was accepted.
template <class Read>
std::string refusalOf(Read read, const std::string& json)
{
    try {
        read(json);
        return {};
    } catch (const RecordJsonError& e) {
        return e.what();
    }
}

const auto asKerailyrivi = [](const std::string& j) { recordFromJson<TKerailyrivi>(j); };
const auto asVarastoontulorivi = [](const std::string& j) { recordFromJson<TVarastoontulorivi>(j); };
const auto asTyorivi = [](const std::string& j) { recordFromJson<TTyorivi>(j); };
const auto asKerailyList = [](const std::string& j) { listFromJson<TKerailyrivi>(j); };

std::string keraily(const std::string& fields)
{
    return R"({"type":"UTyypit.TKerailyrivi","id":1,"fields":{)" + fields + "}}";
}
std::string varasto(const std::string& fields)
{
    return R"({"type":"UTyypit.TVarastoontulorivi","id":1,"fields":{)" + fields + "}}";
}
std::string tyorivi(const std::string& fields)
{
    return R"({"type":"UTyypit.TTyorivi","id":1,"fields":{)" + fields + "}}";
}
std::string kerailyList(const std::string& fields)
{
    return R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{)" + fields +
           "}}";
}

struct Refusal {
    const char* what;
    std::function<void(const std::string&)> read;
    std::string json;
    std::string mustMention;  // a fragment the message must hold
};

class RecordRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(RecordRefusal, IsRefusedWithAMessageNamingTheFault)
{
    const Refusal& c = GetParam();
    const std::string message = refusalOf(c.read, c.json);
    ASSERT_FALSE(message.empty()) << c.what << ": accepted " << c.json;
    EXPECT_NE(message.find(c.mustMention), std::string::npos) << c.what << ": " << message;
}

const std::string kItem = R"({"type":"UTyypit.TKerailyrivi","id":2,"fields":{}})";

INSTANTIATE_TEST_SUITE_P(
    FailureList, RecordRefusal,
    ::testing::Values(
        Refusal{"not JSON", asKerailyrivi, "{\"type\":", "not valid JSON"},
        Refusal{"invalid UTF-8", asKerailyrivi, keraily("\"id\":\"\xC3\x28\""), "not valid JSON"},
        Refusal{"not an object", asKerailyrivi, "42", "got a number"},
        Refusal{"no type", asKerailyrivi, R"({"id":1,"fields":{}})", "\"type\""},
        Refusal{"no id", asKerailyrivi, R"({"type":"UTyypit.TKerailyrivi","fields":{}})", "\"id\""},
        Refusal{"no fields", asKerailyrivi, R"({"type":"UTyypit.TKerailyrivi","id":1})", "\"fields\""},
        Refusal{"fields not an object", asKerailyrivi, R"({"type":"UTyypit.TKerailyrivi","id":1,"fields":[]})",
                "\"fields\""},
        Refusal{"type not a string", asKerailyrivi, R"({"type":7,"id":1,"fields":{}})", "\"type\""},
        Refusal{"unknown type", asKerailyrivi, R"({"type":"UTyypit.TTuntematon","id":1,"fields":{}})",
                "UTyypit.TTuntematon names no known class"},
        Refusal{"another record class", asKerailyrivi, R"({"type":"UTyypit.TInventointirivi","id":1,"fields":{}})",
                "UTyypit.TInventointirivi, expected UTyypit.TKerailyrivi"},
        Refusal{"a list where a record is expected", asKerailyrivi, kerailyList(""), "expected UTyypit.TKerailyrivi"},
        Refusal{"a record where a list is expected", asKerailyList, keraily(""),
                "expected System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>"},
        Refusal{"type name case differs", asKerailyrivi, R"({"type":"UTyypit.TKERAILYRIVI","id":1,"fields":{}})",
                "names no known class"},
        Refusal{"no such field", asKerailyrivi, keraily(R"("tuotekoodi":"A","hinta":2)"), "\"hinta\" is no field"},
        Refusal{"field name case differs", asKerailyrivi, keraily(R"("Tuotekoodi":"A")"), "\"Tuotekoodi\""},
        Refusal{"field given twice", asKerailyrivi, keraily(R"("maara":1,"maara":2)"), "given twice"},
        Refusal{"fraction for an integer", asKerailyrivi, keraily(R"("toimittajanro":1.5)"), "\"toimittajanro\""},
        Refusal{"1.0 for an integer", asKerailyrivi, keraily(R"("asiakasnro":1.0)"), "expected an integer"},
        Refusal{"exponent for an integer", asKerailyrivi, keraily(R"("asiakasnro":1e3)"), "expected an integer"},
        Refusal{"digits in a string for an integer", asKerailyrivi, keraily(R"("toimittajanro":"12")"), "got a string"},
        Refusal{"letters for an integer", asKerailyrivi, keraily(R"("toimittajanro":"abc")"), "got a string"},
        Refusal{"boolean for an integer", asKerailyrivi, keraily(R"("toimittajanro":true)"), "got a boolean"},
        Refusal{"null for an integer", asKerailyrivi, keraily(R"("toimittajanro":null)"), "got null"},
        Refusal{"number for a text", asKerailyrivi, keraily(R"("tuotekoodi":123)"), "\"tuotekoodi\""},
        Refusal{"null for a text", asKerailyrivi, keraily(R"("tuotekoodi":null)"), "expected a string"},
        Refusal{"string for a double", asKerailyrivi, keraily(R"("maara":"2,5")"), "\"maara\""},
        Refusal{"32-bit overflow", asKerailyrivi, keraily(R"("asiakasnro":2147483648)"), "32-bit range"},
        Refusal{"32-bit underflow", asKerailyrivi, keraily(R"("asiakasnro":-2147483649)"), "32-bit range"},
        Refusal{"beyond 64 bits", asKerailyrivi, keraily(R"("asiakasnro":18446744073709551615)"), "32-bit range"},
        Refusal{"16-bit toimittajanro refuses 40000", asVarastoontulorivi, varasto(R"("toimittajanro":40000)"),
                "40000 is outside the 16-bit range -32768..32767"},
        Refusal{"16-bit tilausrivinro refuses -32769", asVarastoontulorivi, varasto(R"("tilausrivinro":-32769)"),
                "16-bit"},
        Refusal{"8-bit vaurionro refuses 200", asTyorivi, tyorivi(R"("vaurionro":200)"),
                "200 is outside the 8-bit range -128..127"},
        Refusal{"16-bit tyopakhakunro refuses 32768", asTyorivi, tyorivi(R"("tyopakhakunro":32768)"), "16-bit"},
        Refusal{"date-time as text", asTyorivi, tyorivi(R"("valmispvm":"2024-01-01")"), "\"valmispvm\""},
        Refusal{"count beyond the items", asKerailyList,
                kerailyList(R"("FOwnsObjects":true,"FListHelper":[2],"FItems":[)" + kItem + "]"),
                "counts 2 records but \"FItems\" holds only 1"},
        Refusal{"negative count", asKerailyList, kerailyList(R"("FListHelper":[-1],"FItems":[])"), "negative"},
        Refusal{"count not a number", asKerailyList, kerailyList(R"("FListHelper":["1"],"FItems":[])"),
                "not an integer"},
        Refusal{"count with a fraction", asKerailyList, kerailyList(R"("FListHelper":[0.5],"FItems":[])"),
                "not an integer"},
        Refusal{"count not in an array", asKerailyList, kerailyList(R"("FListHelper":1,"FItems":[])"), "FListHelper"},
        Refusal{"count missing beside items", asKerailyList,
                kerailyList(R"("FOwnsObjects":true,"FItems":[)" + kItem + "]"), "\"FListHelper\" (the count"},
        Refusal{"items not an array", asKerailyList, kerailyList(R"("FListHelper":[0],"FItems":{})"), "FItems"},
        Refusal{"unknown list member", asKerailyList, kerailyList(R"("FCount":0)"), "\"FCount\" is no field"},
        Refusal{"null counted as a record", asKerailyList, kerailyList(R"("FListHelper":[1],"FItems":[null])"),
                "\"FItems\"[0] is null"},
        Refusal{"another class among the items", asKerailyList,
                kerailyList(R"("FListHelper":[2],"FItems":[)" + kItem +
                            R"(,{"type":"UTyypit.TVarastoontulorivi","id":3,"fields":{}}])"),
                "\"FItems\"[1]: \"type\" is UTyypit.TVarastoontulorivi, expected UTyypit.TKerailyrivi"},
        Refusal{"bad field inside an item", asKerailyList,
                kerailyList(R"("FListHelper":[1],"FItems":[{"type":"UTyypit.TKerailyrivi","id":2,)"
                            R"("fields":{"maara":"x"}}])"),
                "\"FItems\"[0]: UTyypit.TKerailyrivi field \"maara\""}),
    [](const ::testing::TestParamInfo<Refusal>& info) {
        std::string name;
        for (const char ch : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(RecordRefusal, DeepNestingIsRefusedWithoutCrashing)
{
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_NE(refusalOf(asKerailyrivi, deep).find("nest deeper"), std::string::npos);
    // Brackets inside texts are only text.
    EXPECT_EQ(refusalOf(asKerailyrivi, keraily(R"("id":")" + std::string(1000, '[') + R"(\"{")")), "");
}

// `count` items written by `item` (given the item's number), separated by commas.
std::string commaSeparated(int count, const std::function<std::string(int)>& item)
{
    std::string items;
    for (int i = 0; i < count; ++i)
        items += (i ? "," : "") + item(i);
    return items;
}

// A list of `count` records written by `row`, with its count.
std::string kerailyListOf(int count, const std::function<std::string(int)>& row)
{
    return kerailyList(R"("FListHelper":[)" + std::to_string(count) + R"(],"FItems":[)" + commaSeparated(count, row) +
                       "]");
}

TEST(RecordRefusal, TextsOfMoreValuesThanTheirSizeAllowsAreRefusedBeforeParsing)
{
    // A megabyte of tiny values would cost its document 16 times its size; records of the
    // protocol, even with every field empty or zero, and small texts of any shape pass.
    const int rows = 8000;  // some 1 MB
    const struct {
        const char* what;
        std::string json;
        bool accepted;
    } cases[] = {
        {"a list of zeros", "[" + commaSeparated(500'000, [](int) { return "0"; }) + "]", false},
        {"an object of tiny members",
         "{" + commaSeparated(100'000, [](int i) { return "\"" + std::to_string(i) + "\":0"; }) + "}", false},
        {"nested empty arrays", "[" + commaSeparated(300'000, [](int) { return "[]"; }) + "]", false},
        {"rows with every field empty or zero",
         kerailyListOf(
             rows,
             [](int i) {
                 return R"({"type":"UTyypit.TKerailyrivi","id":)" + std::to_string(i + 2) +
                        R"(,"fields":{"id":"","toimittajanro":0,"tuotekoodi":"","maara":0,"keruupaateid":"","asiakasnro":0}})";
             }),
         true},
        {"rows with values",
         kerailyListOf(rows,
                       [](int i) {
                           const std::string n = std::to_string(i);
                           return R"({"type":"UTyypit.TKerailyrivi","id":)" + n + R"(,"fields":{"id":"R)" + n +
                                  R"(","toimittajanro":7,"tuotekoodi":"T)" + n +
                                  R"(","maara":2.5,"keruupaateid":"pda","asiakasnro":1}})";
                       }),
         true},
        {"a small list of zeros", "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]", true},
    };
    for (const auto& c : cases) {
        // The small list of zeros is no list of records, but it is read, not refused for its size.
        const std::string message = refusalOf(asKerailyList, c.json);
        EXPECT_EQ(message.find("too many for its size") == std::string::npos, c.accepted) << c.what << ": " << message;
        if (c.accepted && c.json.size() > 1000) {
            EXPECT_EQ(message, "") << c.what;
        }
    }
}

TEST(RecordRefusal, NumbersReadAsTheirTextSays)
{
    // A zero mantissa stays zero whatever its exponent or its number of zeros.
    const std::string manyZeros = "0." + std::string(40, '0');
    const std::vector<std::string> zeros = {"0e52",    "0E-52",           "-0e5",  "0.0e52", "0.000E+300", "0e0",
                                            manyZeros, manyZeros + "e-5", "1e-400"};
    for (const std::string& zero : zeros) {
        rapidjson::Document d;
        parseJson(d, "[" + zero + "," + zero + "]");
        ASSERT_TRUE(d[0].IsNumber()) << zero;
        EXPECT_EQ(d[0].GetDouble(), 0.0) << zero;
        EXPECT_EQ(d[1].GetDouble(), 0.0) << zero;
    }
    // Invalid numbers stay invalid; a number past the largest double is refused.
    for (const char* bad : {"0.e5", "0e", "0e+", "00e5", "0e5e5", "0.0E5e5", "0E50EE52", "-e5", "1e400", "-0.5e99999"})
        EXPECT_THROW(
            {
                rapidjson::Document d;
                parseJson(d, std::string("[") + bad + "]");
            },
            RecordJsonError)
            << bad;
    // Other numbers are correctly rounded; integers stay integers while 64 bits hold them.
    rapidjson::Document d;
    parseJson(d, R"([1e2, 10E-1, "0e5", 0, 0.1, 2.2250738585072014e-308, 4.9e-324, -9223372036854775808,
                     18446744073709551615, 18446744073709551616, 123456789012345678901234567890e-29])");
    EXPECT_EQ(d[0].GetDouble(), 100.0);
    EXPECT_EQ(d[1].GetDouble(), 1.0);
    EXPECT_STREQ(d[2].GetString(), "0e5");
    EXPECT_EQ(d[3].GetInt(), 0);
    EXPECT_EQ(d[4].GetDouble(), 0.1);
    EXPECT_EQ(d[5].GetDouble(), 2.2250738585072014e-308);
    EXPECT_EQ(d[6].GetDouble(), 4.9e-324);
    EXPECT_EQ(d[7].GetInt64(), INT64_MIN);
    EXPECT_EQ(d[8].GetUint64(), UINT64_MAX);
    EXPECT_TRUE(d[9].IsDouble());
    EXPECT_EQ(d[9].GetDouble(), 18446744073709551616.0);
    EXPECT_EQ(d[10].GetDouble(), 1.2345678901234568);
}

TEST(RecordRefusal, HalfOfASurrogatePairIsRefusedAndWholePairsPass)
{
    const struct {
        const char* text;  // the value of "tuotekoodi" as written in JSON
        bool accepted;
    } cases[] = {
        {R"(\udc00)", false},        // lone low half
        {R"(a\ud800b)", false},      // lone high half
        {R"(\ud800\u0041)", false},  // high half followed by no low half
        {R"(\udbff\udfff)", true},   // a whole pair (U+10FFFF)
        {R"(\ud834\udd1e)", true},   // U+1D11E
        {R"(\\udc00)", true},        // an escaped backslash, then plain letters
        {R"(\u00e4)", true},
    };
    for (const auto& c : cases) {
        const std::string message = refusalOf(asKerailyrivi, keraily(std::string(R"("tuotekoodi":")") + c.text + "\""));
        if (c.accepted)
            EXPECT_EQ(message, "") << c.text;
        else
            EXPECT_NE(message.find("surrogate"), std::string::npos) << c.text << ": " << message;
    }
}

}  // namespace
