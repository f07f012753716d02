// The answers a session keeps for keyed calls: which keys are accepted, what a repeat finds,
// and that only the last 32 keys are kept.
#include "server/session/IdempotencyStore.h"

#include <gtest/gtest.h>

#include <string>

namespace krp::session {
namespace {

using Match = IdempotencyStore::Match;

TEST(IdempotencyStoreTest, KeysAreOneTo64CharactersOfTheAllowedSet)
{
    struct Case {
        std::string key;
        bool valid;
    };
    const Case cases[] = {
        {"a", true},
        {std::string(64, 'Z'), true},
        {"AZaz09-_.:", true},
        {"4f9c1e2a-7b3d-4e5f-8a9b-0c1d2e3f4a5b", true},
        {"", false},
        {std::string(65, 'a'), false},
        {"two words", false},
        {"slash/", false},
        {"plus+", false},
        {"tab\t", false},
        {"\xc3\xa4", false},  // "ä" in UTF-8
        {std::string("nul\0", 4), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IdempotencyStore::validKey(c.key), c.valid) << '"' << c.key << '"';
}

TEST(IdempotencyStoreTest, ARepeatFindsTheAnswerOnlyForTheSameMethodAndBody)
{
    IdempotencyStore store;
    EXPECT_EQ(store.find("k1", "Ping", "[]").match, Match::None);
    store.remember("k1", "LisaaVarastoontulorivit", R"([null])", {200, R"({"result":""})"});

    const auto same = store.find("k1", "LisaaVarastoontulorivit", R"([null])");
    ASSERT_EQ(same.match, Match::Same);
    EXPECT_EQ(same.answer->status, 200);
    EXPECT_EQ(same.answer->body, R"({"result":""})");

    EXPECT_EQ(store.find("k1", "LisaaKerailyrivit", R"([null])").match, Match::Other);
    EXPECT_EQ(store.find("k1", "LisaaVarastoontulorivit", R"([ null])").match, Match::Other);
    EXPECT_EQ(store.find("k1", "LisaaVarastoontulorivit", "").match, Match::Other);
    EXPECT_EQ(store.find("K1", "LisaaVarastoontulorivit", R"([null])").match, Match::None);  // keys are exact

    // A key already kept keeps its first answer.
    store.remember("k1", "LisaaVarastoontulorivit", R"([null])", {500, R"({"error":"x"})"});
    EXPECT_EQ(store.find("k1", "LisaaVarastoontulorivit", R"([null])").answer->status, 200);
}

TEST(IdempotencyStoreTest, TheOldestKeyIsForgottenAfter32)
{
    IdempotencyStore store;
    for (int i = 0; i < 33; ++i)
        store.remember("key" + std::to_string(i), "Ping", "[]", {200, std::to_string(i)});
    EXPECT_EQ(store.size(), 32u);
    EXPECT_EQ(store.find("key0", "Ping", "[]").match, Match::None);
    for (int i = 1; i < 33; ++i) {
        const auto found = store.find("key" + std::to_string(i), "Ping", "[]");
        ASSERT_EQ(found.match, Match::Same) << i;
        EXPECT_EQ(found.answer->body, std::to_string(i));
    }
}

}  // namespace
}  // namespace krp::session
