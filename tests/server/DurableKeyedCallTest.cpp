// Keyed calls that write, remembered in the journal file across sessions and a new container
// on the same file (as after a restart), on the demo database: a repeat in a new session (the
// client library's own after its 401) gets the recorded answer and the row is there once; a key recorded without an answer (the server
// died while the call ran) is never run again and is answered "tulos epävarma"; a damaged
// journal is moved aside, and the health answer says so.
#include "DemoEndpointFixture.h"

#include "server/session/KeyedCallJournal.h"

#include <fstream>
#include <string>

namespace krp::test {
namespace {

using client::KrpClient;
using client::KrpError;

const std::string kInventointirivi =
    R"([{"type":"UTyypit.TInventointirivi","id":1,"fields":{"id":"PDA7-KESTO-1","toimittajanro":102,)"
    R"("tuotekoodi":"RE-205","vanha_varastosaldo":12,"uusi_varastosaldo":11,"keruupaateid":"pda-7"}}])";

class DurableKeyedCallTest : public DemoEndpointTest {
protected:
    void SetUp() override
    {
        DemoEndpointTest::SetUp();
        if (IsSkipped())
            return;
        useJournal();
    }

    std::string journalFile() const { return dir.filePath(QStringLiteral("toistot.sqlite")).toStdString(); }
    // A new container on the journal file on the same port, as after a restart of the program.
    void useJournal()
    {
        replaceContainer([this](ServerContainerOptions& o) { o.keyedCallJournal = journalFile(); }, true);
    }

    std::unique_ptr<KrpClient> openAs(const std::string& user, const std::string& password)
    {
        auto client = std::make_unique<KrpClient>(clientOptions());
        client->openSession(demoClient(user, password));
        return client;
    }

    std::int64_t rowsOf(const char* id)
    {
        return demo().integer(QStringLiteral("SELECT COUNT(*) FROM KERUUINVENTOINTI WHERE KEI_ID='%1'").arg(id));
    }
};

TEST_P(DurableKeyedCallTest, ARepeatAfterARestartInANewSessionGetsTheRecordedAnswer)
{
    auto first = openAs("VARASTO", "Hylly42");
    const auto answer = first->call("LisaaInventointirivi", kInventointirivi, "pda7-kesto-0001");
    EXPECT_EQ(answer.text, R"({"result":""})");
    EXPECT_FALSE(first->lastResponse().replayed);

    useJournal();  // the first session went with the old container
    // The client library's repeat: 401, a new session as the same user, the same key there.
    const std::string oldSession = first->sessionId();
    EXPECT_EQ(first->call("LisaaInventointirivi", kInventointirivi, "pda7-kesto-0001").text, answer.text);
    EXPECT_TRUE(first->lastResponse().replayed);
    EXPECT_EQ(first->lastResponse().attempts, 2);
    EXPECT_NE(first->sessionId(), oldSession);
    // Any other session of the same user finds it as well.
    auto again = openAs("VARASTO", "Hylly42");
    EXPECT_EQ(again->call("LisaaInventointirivi", kInventointirivi, "pda7-kesto-0001").text, answer.text);
    EXPECT_TRUE(again->lastResponse().replayed);
    EXPECT_EQ(rowsOf("PDA7-KESTO-1"), 1);

    // The same key with another body is still another call.
    try {
        again->call("LisaaInventointirivi", "[null]", "pda7-kesto-0001");
        ADD_FAILURE() << "no refusal";
    } catch (const KrpError& e) {
        EXPECT_EQ(e.status(), 422);
    }
}

TEST_P(DurableKeyedCallTest, AKeyStartedButNeverAnsweredIsNotRunAgain)
{
    {
        // What a server killed while the call ran leaves in its journal.
        session::KeyedCallJournal killed({journalFile()});
        ASSERT_EQ(killed.claim("VARASTO", "pda7-kesto-0002", "LisaaInventointirivi", kInventointirivi).outcome,
                  session::KeyedCallJournal::Outcome::Run);
    }
    useJournal();
    const int mark = static_cast<int>(logLines().size());
    auto client = openAs("VARASTO", "Hylly42");
    for (int i = 0; i < 2; ++i) {
        try {
            client->call("LisaaInventointirivi", kInventointirivi, "pda7-kesto-0002");
            ADD_FAILURE() << "the call ran";
        } catch (const KrpError& e) {
            EXPECT_EQ(e.status(), 409);
            EXPECT_TRUE(e.outcomeUnknown());
            EXPECT_NE(e.error().find("tulos epävarma"), std::string::npos) << e.error();
            EXPECT_EQ(client->lastResponse().attempts, 1);  // the client stops at once
        }
    }
    EXPECT_EQ(rowsOf("PDA7-KESTO-1"), 0);
    EXPECT_GE(waitForLog(QStringLiteral("LisaaInventointirivi, käyttäjä \"VARASTO\", avain pda7-kesto-0002. Kutsua ei "
                                        "ajettu uudelleen."),
                         mark),
              0);
}

TEST_P(DurableKeyedCallTest, ADamagedJournalIsMovedAsideAndTheHealthAnswerSaysSo)
{
    const std::string damaged = dir.filePath(QStringLiteral("vahingoittunut.sqlite")).toStdString();
    std::ofstream(damaged, std::ios::binary) << std::string(8192, 'x');
    replaceContainer([&](ServerContainerOptions& o) { o.keyedCallJournal = damaged; });
    client::KrpClient client(clientOptions());
    const auto health = client.transport().request("GET", "/api/v1/health", "", {});
    EXPECT_EQ(health.status, 200);
    EXPECT_NE(health.body.find(R"("status":"ok")"), std::string::npos) << health.body;
    EXPECT_NE(health.body.find(R"("journal":")"), std::string::npos) << health.body;
    EXPECT_NE(health.body.find("vahingoittunut.sqlite.vioittunut-"), std::string::npos) << health.body;
    EXPECT_TRUE(pumpUntil(
        [this] { return logLines().filter(QStringLiteral("toistot ajetaan kuin uudet kutsut.")).size() == 1; }));
    // It serves: a keyed write runs and is recorded.
    auto terminal = openAs("VARASTO", "Hylly42");
    EXPECT_EQ(terminal->call("LisaaInventointirivi", kInventointirivi, "pda7-kesto-0003").text, R"({"result":""})");
}

INSTANTIATE_TEST_SUITE_P(, DurableKeyedCallTest, ::testing::Values(Backend::Sqlite, Backend::MariaDb), backendName);

}  // namespace
}  // namespace krp::test
