// Writing and reading every transfer record and list in its JSON form.
#include "types/RecordJson.h"
#include "types/SampleRecords.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace krp::types;
using krp::testing::Sample;

namespace {

template <class T>
class EveryRecordClass : public ::testing::Test {
};

using RecordClasses = ::testing::Types<TVarastoontulorivi, TKerailyrivi, TInventointirivi, TTuotemuutosrivi,
                                       TTyoaikakirjaus, TTyo, TTyorivi>;
TYPED_TEST_SUITE(EveryRecordClass, RecordClasses);

TYPED_TEST(EveryRecordClass, IsWrittenWithFieldsInDeclarationOrder)
{
    EXPECT_EQ(recordToJson(Sample<TypeParam>::record()), Sample<TypeParam>::json);
}

TYPED_TEST(EveryRecordClass, ReadsBackEveryField)
{
    const auto read = recordFromJson<TypeParam>(Sample<TypeParam>::json);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(recordToJson(*read), Sample<TypeParam>::json);
}

TYPED_TEST(EveryRecordClass, MissingMembersLeaveFieldsZeroOrEmpty)
{
    const std::string json = R"({"type":")" + recordTypeName<TypeParam>() + R"(","id":1,"fields":{}})";
    const auto read = recordFromJson<TypeParam>(json);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(recordToJson(*read), recordToJson(TypeParam{}));
}

TYPED_TEST(EveryRecordClass, NullIsNoObject)
{
    EXPECT_FALSE(recordFromJson<TypeParam>("null").has_value());
    EXPECT_FALSE(listFromJson<TypeParam>("null").has_value());
}

TYPED_TEST(EveryRecordClass, ListOfThreeNumbersItselfOneAndItsRecordsTwoToFour)
{
    TObjectList<TypeParam> list(3, Sample<TypeParam>::record());
    const std::string json = listToJson(list);

    rapidjson::Document doc;
    parseJson(doc, json);
    EXPECT_EQ(std::string(doc["type"].GetString()),
              "System.Generics.Collections.TObjectList<UTyypit." + std::string(className<TypeParam>()) + ">");
    EXPECT_EQ(doc["id"].GetInt(), 1);
    const auto& fields = doc["fields"];
    ASSERT_EQ(fields.MemberCount(), 3u);
    EXPECT_EQ(std::string(fields.MemberBegin()->name.GetString()), "FOwnsObjects");
    EXPECT_TRUE(fields["FOwnsObjects"].IsTrue());
    ASSERT_EQ(fields["FListHelper"].Size(), 1u);
    EXPECT_EQ(fields["FListHelper"][0].GetInt(), 3);
    const auto& items = fields["FItems"];
    ASSERT_EQ(items.Size(), 3u);
    for (rapidjson::SizeType i = 0; i < 3; ++i)
        EXPECT_EQ(items[i]["id"].GetInt(), static_cast<int>(i) + 2);

    const auto read = listFromJson<TypeParam>(json);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 3u);
    EXPECT_EQ(listToJson(*read), json);
}

TYPED_TEST(EveryRecordClass, EmptyListCrossesAsEmptyList)
{
    const std::string json = listToJson(TObjectList<TypeParam>{});
    EXPECT_EQ(json, R"({"type":")" + listTypeName<TypeParam>() +
                        R"(","id":1,"fields":{"FOwnsObjects":true,"FListHelper":[0],"FItems":[]}})");
    const auto read = listFromJson<TypeParam>(json);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->empty());
}

TEST(RecordJson, IdsContinueAcrossValuesWrittenWithOneCounter)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    int nextId = 5;
    writer.StartArray();
    writeRecord(writer, TTyo{}, nextId);
    writeList(writer, TObjectList<TTyo>(2), nextId);
    writer.EndArray();
    EXPECT_EQ(nextId, 9);
    rapidjson::Document doc;
    parseJson(doc, std::string_view(buffer.GetString(), buffer.GetSize()));
    EXPECT_EQ(doc[0]["id"].GetInt(), 5);
    EXPECT_EQ(doc[1]["id"].GetInt(), 6);
    EXPECT_EQ(doc[1]["fields"]["FItems"][0]["id"].GetInt(), 7);
    EXPECT_EQ(doc[1]["fields"]["FItems"][1]["id"].GetInt(), 8);
}

TEST(RecordJson, EntriesAfterTheCountAreIgnored)
{
    const auto read = listFromJson<TTyo>(
        R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TTyo>","id":1,"fields":{"FOwnsObjects":true,)"
        R"("FListHelper":[1],"FItems":[{"type":"UTyypit.TTyo","id":2,"fields":{"koodi":"A"}},null,null,)"
        R"("not a record",{"type":"UTyypit.TKerailyrivi"}]}})");
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ((*read)[0].koodi, "A");
}

TEST(RecordJson, AListWithoutItsCountIsRefusedNotReadAsEmpty)
{
    // Read as empty, a method would answer success for records it never wrote.
    EXPECT_THROW(
        listFromJson<TKerailyrivi>(R"({"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>",)"
                                   R"("id":1,"fields":{}})"),
        RecordJsonError);
}

TEST(RecordJson, TextsOutsideAsciiCrossUnchanged)
{
    TTyo tyo;
    tyo.koodi = QString::fromUtf8("äöåÄÖÅ €𝄞");
    tyo.tehtava = QString::fromUtf8("nolla\0merkki", 12) + "\t\"\\/";
    const std::string json = recordToJson(tyo);
    EXPECT_NE(json.find("äöåÄÖÅ €𝄞"), std::string::npos) << "texts travel as UTF-8, not escaped";
    const auto read = recordFromJson<TTyo>(json);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->koodi, tyo.koodi);
    EXPECT_EQ(read->tehtava, tyo.tehtava);

    const auto escaped =
        recordFromJson<TTyo>(R"({"type":"UTyypit.TTyo","id":1,"fields":{"koodi":"\u00e4\ud834\udd1e"}})");
    ASSERT_TRUE(escaped.has_value());
    EXPECT_EQ(escaped->koodi, QString::fromUtf8("ä𝄞"));
}

TEST(RecordJson, NumbersTakeAtMostFifteenSignificantDigits)
{
    TKerailyrivi r;
    r.maara = 1.0 / 3.0;
    EXPECT_NE(recordToJson(r).find(R"("maara":0.333333333333333,)"), std::string::npos);
    r.maara = 0.1 + 0.2;
    EXPECT_NE(recordToJson(r).find(R"("maara":0.3,)"), std::string::npos);
    r.maara = 1e300;
    EXPECT_NE(recordToJson(r).find(R"("maara":1e300,)"), std::string::npos);
    EXPECT_EQ(recordFromJson<TKerailyrivi>(recordToJson(r))->maara, 1e300);
}

TEST(RecordJson, DateTimeKeepsMillisecondsOnTheWire)
{
    TTyoaikakirjaus r;
    r.aloitusaika = 45678.0 + (13 * 3600 + 45 * 60 + 12.345) / 86400.0;
    const auto read = recordFromJson<TTyoaikakirjaus>(recordToJson(r));
    ASSERT_TRUE(read.has_value());
    EXPECT_NEAR(read->aloitusaika, r.aloitusaika, 1e-9);  // 15 digits of a 5-digit day count: ~1 µs
}

TEST(RecordJson, ReadsIntegersAtTheEdgesOfEachWidth)
{
    const auto v = recordFromJson<TVarastoontulorivi>(
        R"({"type":"UTyypit.TVarastoontulorivi","id":1,"fields":{"tilausrivinro":-32768,"toimittajanro":32767,)"
        R"("ostotilausnro":-2147483648}})");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->tilausrivinro, -32768);
    EXPECT_EQ(v->toimittajanro, 32767);
    EXPECT_EQ(v->ostotilausnro, -2147483647 - 1);

    const auto t = recordFromJson<TTyorivi>(
        R"({"type":"UTyypit.TTyorivi","id":1,"fields":{"vaurionro":127,"tyopakhakunro":-32768,"kpl":7}})");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->vaurionro, 127);
    EXPECT_EQ(t->tyopakhakunro, -32768);
    EXPECT_EQ(t->kpl, 7.0) << "a double field takes a number without fraction";
}

TEST(RecordJson, WritingNaNIsRefusedWithTheFieldNamed)
{
    TTyorivi r;
    r.rivisumma = std::nan("");
    try {
        recordToJson(r);
        FAIL() << "NaN was written";
    } catch (const RecordJsonError& e) {
        EXPECT_NE(std::string(e.what()).find("\"rivisumma\""), std::string::npos) << e.what();
    }
    r.rivisumma = 0;
    r.valmispvm = INFINITY;
    EXPECT_THROW(listToJson(TObjectList<TTyorivi>{r}), RecordJsonError);
}

}  // namespace
