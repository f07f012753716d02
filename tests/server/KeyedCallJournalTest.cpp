// The journal of keyed calls on a real SQLite file: what a repeat finds after the journal was
// closed and opened again (as after a restart), with the answer recorded and without it (the
// process died while the call ran); another user, method or body; a damaged and a missing file;
// a repeat while the same key still runs; many threads claiming the same keys at once; pruning.
#include "server/session/KeyedCallJournal.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace krp::session {
namespace {

using Outcome = KeyedCallJournal::Outcome;
using State = KeyedCallJournal::State;

class KeyedCallJournalTest : public ::testing::Test {
protected:
    std::string file() const { return dir.filePath(QStringLiteral("toistot.sqlite")).toStdString(); }
    KeyedCallJournalOptions options() const { return {file(), std::chrono::hours(24)}; }
    QTemporaryDir dir;
};

TEST_F(KeyedCallJournalTest, ARepeatAfterReopeningGetsTheAnswerOrUnknownNeverARun)
{
    const std::string body = R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":"A-1"}}])";
    {
        KeyedCallJournal journal(options());
        EXPECT_EQ(journal.state(), State::Created);
        ASSERT_EQ(journal.claim("VARASTO", "k-answered", "LisaaInventointirivi", body).outcome, Outcome::Run);
        journal.finish("VARASTO", "k-answered", {200, R"({"result":""})"});
        // Claimed, then the process "dies": no finish.
        ASSERT_EQ(journal.claim("VARASTO", "k-cut", "LisaaInventointirivi", body).outcome, Outcome::Run);
    }
    KeyedCallJournal journal(options());
    EXPECT_EQ(journal.state(), State::Opened);
    EXPECT_TRUE(journal.problem().empty());
    struct Case {
        const char* name;
        const char* user;
        const char* key;
        const char* method;
        std::string body;
        Outcome outcome;
    };
    const Case cases[] = {
        {"answered", "VARASTO", "k-answered", "LisaaInventointirivi", body, Outcome::Answered},
        {"started, never answered", "VARASTO", "k-cut", "LisaaInventointirivi", body, Outcome::Unknown},
        {"another body", "VARASTO", "k-answered", "LisaaInventointirivi", body + " ", Outcome::Other},
        {"another method", "VARASTO", "k-answered", "LisaaKerailyrivit", body, Outcome::Other},
        {"another user's key is their own", "HUOLTO", "k-answered", "LisaaInventointirivi", body, Outcome::Run},
        {"a new key", "VARASTO", "k-new", "LisaaInventointirivi", body, Outcome::Run},
    };
    for (const Case& c : cases) {
        const auto claim = journal.claim(c.user, c.key, c.method, c.body);
        EXPECT_EQ(claim.outcome, c.outcome) << c.name;
        if (c.outcome == Outcome::Answered) {
            EXPECT_EQ(claim.answer.status, 200);
            EXPECT_EQ(claim.answer.body, R"({"result":""})");
        }
    }
    // The unknown stays unknown: asking again never turns it into a run.
    EXPECT_EQ(journal.claim("VARASTO", "k-cut", "LisaaInventointirivi", body).outcome, Outcome::Unknown);
}

TEST_F(KeyedCallJournalTest, ADamagedFileIsMovedAsideAndAFreshJournalServes)
{
    {
        std::ofstream garbage(file(), std::ios::binary);
        for (int i = 0; i < 4096; ++i)
            garbage << "not a database ";
    }
    KeyedCallJournal journal(options());
    EXPECT_EQ(journal.state(), State::Replaced);
    EXPECT_NE(journal.problem().find("siirrettiin nimelle " + file() + ".vioittunut-"), std::string::npos)
        << journal.problem();
    EXPECT_EQ(journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
        aside += entry.path().filename().string().rfind("toistot.sqlite.vioittunut-", 0) == 0 ? 1 : 0;
    EXPECT_EQ(aside, 1);
}

TEST_F(KeyedCallJournalTest, AJournalThatCannotBeMadeIsKeptInMemoryAndSaysSo)
{
    KeyedCallJournal journal({dir.filePath(QStringLiteral("ei/ole/hakemistoa/toistot.sqlite")).toStdString()});
    EXPECT_EQ(journal.state(), State::InMemory);
    EXPECT_NE(journal.problem().find("vain muistissa"), std::string::npos) << journal.problem();
    EXPECT_EQ(journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
}

TEST_F(KeyedCallJournalTest, ARepeatOfARunningKeyWaitsForItsAnswer)
{
    KeyedCallJournal journal(options());
    ASSERT_EQ(journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
    auto repeat =
        std::async(std::launch::async, [&] { return journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]"); });
    EXPECT_EQ(repeat.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    journal.finish("VARASTO", "k", {200, "{\"result\":\"\"}"});
    const auto claim = repeat.get();
    EXPECT_EQ(claim.outcome, Outcome::Answered);
    EXPECT_EQ(claim.answer.body, "{\"result\":\"\"}");

    KeyedCallJournalOptions brief = options();
    brief.file = dir.filePath(QStringLiteral("toinen.sqlite")).toStdString();
    brief.waitForRunning = std::chrono::milliseconds(100);
    KeyedCallJournal impatient(brief);
    ASSERT_EQ(impatient.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
    EXPECT_EQ(impatient.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::InProgress);
}

TEST_F(KeyedCallJournalTest, KeysClaimedFromManyThreadsAtOnceRunOnceEach)
{
    KeyedCallJournal journal(options());
    constexpr int kThreads = 8;
    constexpr int kKeys = 40;
    std::atomic<int> runs[kKeys] = {};
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kKeys; ++i) {
                const int k = (i + t * 5) % kKeys;  // the threads meet on the same keys
                const std::string key = "k-" + std::to_string(k);
                const auto claim = journal.claim("VARASTO", key, "LisaaKerailyrivit", "[]");
                if (claim.outcome == Outcome::Run) {
                    ++runs[k];
                    journal.finish("VARASTO", key, {200, "{\"result\":\"\"}"});
                } else {
                    EXPECT_EQ(claim.outcome, Outcome::Answered);
                    ++answered;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int k = 0; k < kKeys; ++k)
        EXPECT_EQ(runs[k], 1) << "key " << k;
    EXPECT_EQ(answered, kThreads * kKeys - kKeys);
    EXPECT_EQ(journal.size(), static_cast<std::size_t>(kKeys));
}

TEST_F(KeyedCallJournalTest, EntriesOlderThanTheKeepingTimeArePruned)
{
    KeyedCallJournalOptions o = options();
    o.keepFor = std::chrono::hours(0);
    KeyedCallJournal journal(o);
    ASSERT_EQ(journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
    journal.finish("VARASTO", "k", {200, "{}"});
    EXPECT_EQ(journal.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the journal keeps whole seconds
    EXPECT_EQ(journal.prune(), 1u);
    EXPECT_EQ(journal.size(), 0u);
    EXPECT_EQ(journal.claim("VARASTO", "k", "LisaaInventointirivi", "[]").outcome, Outcome::Run);
}

}  // namespace
}  // namespace krp::session
