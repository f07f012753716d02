// Marshalling of arguments and results through the method registry, with a small module
// whose methods have the same kinds of signatures as the published ones.
#include "protocol/MethodRegistry.h"
#include "shared/JsonText.h"
#include "types/SampleRecords.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace krp;
using namespace krp::protocol;
using types::TObjectList;

namespace {

struct FakeModule {
    int calls = 0;
    std::optional<TObjectList<types::TKerailyrivi>> receivedList;
    std::optional<types::TTuotemuutosrivi> receivedRecord;

    QString Teksti(const QString& a, std::int32_t b, bool c)
    {
        ++calls;
        return a + "|" + QString::number(b) + "|" + (c ? "true" : "false");
    }
    bool Totuus(bool b)
    {
        ++calls;
        return !b;
    }
    std::int32_t Luku(std::int32_t n)
    {
        ++calls;
        return n;
    }
    void Ilmoita(const QString&, const QString&) { ++calls; }
    QString Jonossa(const QString&, std::int32_t, std::int32_t, std::int32_t& maara)
    {
        ++calls;
        maara += 5;
        return "";
    }
    QString LisaaRivit(const std::optional<TObjectList<types::TKerailyrivi>>& Rivit)
    {
        ++calls;
        receivedList = Rivit;
        return "";
    }
    QString LisaaRivi(const std::optional<types::TTuotemuutosrivi>& Rivi)
    {
        ++calls;
        receivedRecord = Rivi;
        return "";
    }
    types::TTyoaikakirjaus Kirjaus(std::int32_t)
    {
        ++calls;
        return krp::testing::Sample<types::TTyoaikakirjaus>::record();
    }
    std::optional<TObjectList<types::TTyo>> Tyot(std::int32_t n)
    {
        ++calls;
        if (n < 0)
            return std::nullopt;
        return TObjectList<types::TTyo>(static_cast<std::size_t>(n), krp::testing::Sample<types::TTyo>::record());
    }
    std::optional<types::TTyo> EhkaTyo(bool present)
    {
        ++calls;
        return present ? std::optional(krp::testing::Sample<types::TTyo>::record()) : std::nullopt;
    }
    db::Query* Tulokset(const QString&)
    {
        ++calls;
        return nullptr;
    }
    bool Kaatuu(const QString& message)
    {
        ++calls;
        throw std::runtime_error(message.toStdString());
    }
    QString KaatuuOudosti()
    {
        ++calls;
        throw 42;
    }
    types::TTyorivi EiLuku()
    {
        ++calls;
        types::TTyorivi r;
        r.kate = NAN;
        return r;
    }
};

const MethodRegistry<FakeModule>& registry()
{
    static const MethodRegistry<FakeModule> r = [] {
        MethodRegistry<FakeModule> m;
        m.add("Teksti", &FakeModule::Teksti, {"a", "b", "c"})
            .add("Totuus", &FakeModule::Totuus, {"b"})
            .add("Luku", &FakeModule::Luku, {"n"})
            .add("Ilmoita", &FakeModule::Ilmoita, {"sovellus", "clientid"})
            .add("Jonossa", &FakeModule::Jonossa, {"tuotekoodi", "toimittajanro", "ostotilausnro", "maara"})
            .add("LisaaRivit", &FakeModule::LisaaRivit, {"Rivit"})
            .add("LisaaRivi", &FakeModule::LisaaRivi, {"Rivi"})
            .add("Kirjaus", &FakeModule::Kirjaus, {"nro"})
            .add("Tyot", &FakeModule::Tyot, {"n"})
            .add("EhkaTyo", &FakeModule::EhkaTyo, {"present"})
            .add("Tulokset", &FakeModule::Tulokset, {"haku"})
            .add("Kaatuu", &FakeModule::Kaatuu, {"message"})
            .add("KaatuuOudosti", &FakeModule::KaatuuOudosti)
            .add("EiLuku", &FakeModule::EiLuku);
        return m;
    }();
    return r;
}

struct Success {
    const char* method;
    std::string body;
    std::string answer;
};

class SuccessfulCall : public ::testing::TestWithParam<Success> {};

TEST_P(SuccessfulCall, AnswersTheResultAsJson)
{
    FakeModule module;
    const CallResult r = registry().call(module, GetParam().method, GetParam().body);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.body, GetParam().answer);
    EXPECT_EQ(module.calls, 1);
}

std::string listOfTwoTyo()
{
    return R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TTyo>","id":1,"fields":{"FOwnsObjects":true,)"
           R"("FListHelper":[2],"FItems":[{"type":"UTyypit.TTyo","id":2,"fields":{"koodi":"K2","tehtava":"Jarrut",)"
           R"("rivinro":3000}},{"type":"UTyypit.TTyo","id":3,"fields":{"koodi":"K2","tehtava":"Jarrut",)"
           R"("rivinro":3000}}]}})";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SuccessfulCall,
    ::testing::Values(
        Success{"Teksti", R"(["äö€", -2147483648, true])", R"({"result":"äö€|-2147483648|true"})"},
        Success{"Teksti", R"(["", 2147483647, false])", R"({"result":"|2147483647|false"})"},
        Success{"Teksti", R"(["\u00e4", -0, false])", R"({"result":"ä|0|false"})"},
        Success{"Totuus", "[false]", R"({"result":true})"}, Success{"Luku", "[-7]", R"({"result":-7})"},
        Success{"Ilmoita", R"(["Kairanet", "c-1"])", R"({"result":null})"},
        Success{"Jonossa", R"(["ABC", 1, 2, 10])", R"({"result":"","out":{"maara":15}})"},
        Success{"Kirjaus", "[1]",
                std::string(R"({"result":)") + krp::testing::Sample<types::TTyoaikakirjaus>::json + "}"},
        Success{"Tyot", "[2]", R"({"result":)" + listOfTwoTyo() + "}"}, Success{"Tyot", "[-1]", R"({"result":null})"},
        Success{"EhkaTyo", "[true]", std::string(R"({"result":)") + krp::testing::Sample<types::TTyo>::json + "}"},
        Success{"EhkaTyo", "[false]", R"({"result":null})"}, Success{"Tulokset", R"(["x"])", R"({"result":null})"},
        Success{"LisaaRivi", "[null]", R"({"result":""})"}, Success{"LisaaRivit", "[null]", R"({"result":""})"}));

TEST(MethodRegistry, RecordAndListArgumentsArriveWithTheirFields)
{
    FakeModule module;
    const std::string rivi = krp::testing::Sample<types::TTuotemuutosrivi>::json;
    ASSERT_EQ(registry().call(module, "LisaaRivi", "[" + rivi + "]").status, 200);
    ASSERT_TRUE(module.receivedRecord.has_value());
    EXPECT_EQ(module.receivedRecord->nimi, QString::fromUtf8("Ruuvi 5×40 €"));
    EXPECT_EQ(module.receivedRecord->halytysraja, -9999);

    const std::string rivit =
        R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{)"
        R"("FOwnsObjects":true,"FListHelper":[2],"FItems":[)"
        R"({"type":"UTyypit.TKerailyrivi","id":2,"fields":{"id":"A","maara":2.5}},)"
        R"({"type":"UTyypit.TKerailyrivi","id":3,"fields":{"id":"B","asiakasnro":7}},null,null]}}])";
    ASSERT_EQ(registry().call(module, "LisaaRivit", rivit).status, 200);
    ASSERT_TRUE(module.receivedList.has_value());
    ASSERT_EQ(module.receivedList->size(), 2u);
    EXPECT_EQ((*module.receivedList)[0].id, "A");
    EXPECT_EQ((*module.receivedList)[0].maara, 2.5);
    EXPECT_EQ((*module.receivedList)[1].asiakasnro, 7);

    ASSERT_EQ(registry().call(module, "LisaaRivit", "[null]").status, 200);
    EXPECT_FALSE(module.receivedList.has_value()) << "null arrives as no list";
}

struct Refused {
    const char* method;
    std::string body;
    std::string mustMention;
};

class RefusedCall : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedCall, Answers400WithoutCallingTheMethod)
{
    FakeModule module;
    const CallResult r = registry().call(module, GetParam().method, GetParam().body);
    EXPECT_EQ(r.status, 400) << r.body;
    EXPECT_EQ(module.calls, 0);
    rapidjson::Document doc;
    types::parseJson(doc, r.body);
    ASSERT_TRUE(doc.IsObject() && doc.HasMember("error") && doc["error"].IsString()) << r.body;
    EXPECT_NE(std::string(doc["error"].GetString()).find(GetParam().mustMention), std::string::npos) << r.body;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RefusedCall,
    ::testing::Values(
        Refused{"Luku", "", "not valid JSON"}, Refused{"Luku", "[1,", "not valid JSON"},
        Refused{"Luku", "{\"n\":1}", "must be a JSON array"}, Refused{"Luku", "1", "must be a JSON array"},
        Refused{"Luku", "[]", "takes 1 argument(s) (n), got 0"},
        Refused{"Teksti", R"(["a", 1])", "takes 3 argument(s) (a, b, c), got 2"}, Refused{"Luku", "[1, 2]", "got 2"},
        Refused{"Luku", "[1.0]", "argument 1 \"n\" (integer): expected an integer"}, Refused{"Luku", "[1.5]", "\"n\""},
        Refused{"Luku", "[1e2]", "expected an integer"},
        Refused{"Luku", "[2147483648]", "2147483648 is outside the 32-bit range"},
        Refused{"Luku", "[-2147483649]", "outside the 32-bit range"}, Refused{"Luku", "[\"5\"]", "got a string"},
        Refused{"Luku", "[null]", "got null"},
        Refused{"Totuus", "[1]", "argument 1 \"b\" (boolean): expected true or false"},
        Refused{"Totuus", "[\"true\"]", "expected true or false"},
        Refused{"Teksti", R"([5, 1, true])", "argument 1 \"a\" (text): expected a string"},
        Refused{"Teksti", R"([null, 1, true])", "argument 1 \"a\""},
        Refused{"Teksti", R"(["a", "b", 1])", "argument 2 \"b\""},  // the first bad one is named
        Refused{"Jonossa", R"(["ABC", 1, 2, 1.5])", "argument 4 \"maara\" (integer in/out)"},
        Refused{"LisaaRivi", R"([{"type":"UTyypit.TTyo","id":1,"fields":{}}])",
                "argument 1 \"Rivi\" (TTuotemuutosrivi): \"type\" is UTyypit.TTyo, expected UTyypit.TTuotemuutosrivi"},
        Refused{"LisaaRivi", R"([{"type":"UTyypit.TTuotemuutosrivi","id":1,"fields":{"halytysraja":"-9999"}}])",
                "\"halytysraja\""},
        Refused{"LisaaRivi", R"([{"type":"UTyypit.TTuotemuutosrivi","fields":{}}])", "\"id\""},
        Refused{"LisaaRivit",
                R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,)"
                R"("fields":{"FListHelper":[3],"FItems":[]}}])",
                "argument 1 \"Rivit\" (list of TKerailyrivi)"},
        Refused{"Ilmoita", "[\"\xFF\xFE\", \"x\"]", "not valid JSON"}));

TEST(MethodRegistry, UnknownNameIs404)
{
    FakeModule module;
    for (const char* name : {"teksti", "TEKSTI", "", "Teksti ", "Nope"}) {
        const CallResult r = registry().call(module, name, "[]");
        EXPECT_EQ(r.status, 404) << name;
        EXPECT_NE(r.body.find("\"error\""), std::string::npos);
    }
    EXPECT_EQ(module.calls, 0);
}

TEST(MethodRegistry, RaisedErrorIs500AndReachesTheErrorHandler)
{
    FakeModule module;
    std::vector<QString> logged;
    const auto log = [&](const QString& m) { logged.push_back(m); };

    CallResult r = registry().call(module, "Kaatuu", R"(["Työmääräystä ei löydy"])", log);
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, R"({"error": "Työmääräystä ei löydy"})");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], QString::fromUtf8("Työmääräystä ei löydy"));

    r = registry().call(module, "KaatuuOudosti", "[]", log);
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(logged.size(), 2u);

    // A result that cannot be written fails the call the same way.
    r = registry().call(module, "EiLuku", "[]", log);
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.body.find("kate"), std::string::npos) << r.body;
    EXPECT_EQ(logged.size(), 3u);

    // Without a handler, and with one that fails itself, the answer stays the same.
    EXPECT_EQ(registry().call(module, "Kaatuu", R"(["x"])").status, 500);
    EXPECT_EQ(
        registry().call(module, "Kaatuu", R"(["x"])", [](const QString&) { throw std::runtime_error("log"); }).body,
        R"({"error": "x"})");
}

TEST(MethodRegistry, BrokenUtf8InAnErrorMessageIsMended)
{
    const std::string body = transport::errorBody("virhe \xE4 ajurilta");  // Latin-1 ä from a driver
    rapidjson::Document doc;
    EXPECT_NO_THROW(types::parseJson(doc, body)) << body;
}

TEST(MethodRegistry, DescribesEachMethod)
{
    const MethodInfo* m = registry().find("Jonossa");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->parameters.size(), 4u);
    EXPECT_EQ(m->parameters[3].name, "maara");
    EXPECT_EQ(m->parameters[3].type, "integer in/out");
    EXPECT_EQ(m->resultType, "text");
    EXPECT_EQ(registry().find("LisaaRivit")->parameters[0].type, "list of TKerailyrivi");
    EXPECT_EQ(registry().find("Tyot")->resultType, "list of TTyo");
    EXPECT_EQ(registry().find("Tulokset")->resultType, "dataset");
    EXPECT_EQ(registry().find("Ilmoita")->resultType, "none");
    EXPECT_EQ(registry().methods().front().name, "Teksti");
    EXPECT_EQ(registry().find("teksti"), nullptr);
}

TEST(MethodRegistry, RefusesDuplicateNamesAndUnnamedParameters)
{
    MethodRegistry<FakeModule> r;
    r.add("Luku", &FakeModule::Luku, {"n"});
    EXPECT_THROW(r.add("Luku", &FakeModule::Luku, {"n"}), std::logic_error);
    EXPECT_THROW(r.add("Teksti", &FakeModule::Teksti, {"a", "b"}), std::logic_error);
}

TEST(MethodRegistry, EachCallWorksOnTheModuleItIsGiven)
{
    FakeModule first;
    FakeModule second;
    registry().call(first, "Luku", "[1]");
    registry().call(first, "Luku", "[2]");
    registry().call(second, "Luku", "[3]");
    EXPECT_EQ(first.calls, 2);
    EXPECT_EQ(second.calls, 1);
}

}  // namespace
