// The registry of client applications: lookup, removal of vanished clients, the view's lines
// and counter, and the work that Ping and SovellusSuljetaan hand to the main thread.
#include "host/ClientRegistry.h"

#include "support/QtTestApp.h"
#include "log/DateTimeText.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace krp {
namespace {

QStringList idsOf(const TYhteydet& yhteydet)
{
    QStringList ids;
    for (const auto& e : yhteydet.items())
        ids << e->id;
    return ids;
}

TEST(TYhteydetTest, EtsiYhteysMatchesTheIdExactlyAndIgnoresTheApplication)
{
    TYhteydet y;
    y.add(QStringLiteral("pda-1"), QStringLiteral("Kairanet"));
    y.add(QStringLiteral("PDA-1"), QStringLiteral("Varasto"));
    struct Case {
        const char* id;
        const char* sovellus;
        const char* found;  // sovellus of the entry found, nullptr for none
    };
    for (const Case& c :
         {Case{"pda-1", "Muu", "Kairanet"}, Case{"PDA-1", "", "Varasto"}, Case{"Pda-1", "Kairanet", nullptr},
          Case{"pda-1 ", "Kairanet", nullptr}, Case{"", "", nullptr}}) {
        const TYhteys* e = y.EtsiYhteys(QString::fromUtf8(c.id), QString::fromUtf8(c.sovellus));
        if (c.found) {
            ASSERT_NE(e, nullptr) << c.id;
            EXPECT_EQ(e->sovellus, QString::fromUtf8(c.found)) << c.id;
        } else {
            EXPECT_EQ(e, nullptr) << c.id;
        }
    }
    y.remove(y.EtsiYhteys(QStringLiteral("pda-1"), {}));
    EXPECT_EQ(y.EtsiYhteys(QStringLiteral("pda-1"), {}), nullptr);
    EXPECT_EQ(idsOf(y), QStringList{QStringLiteral("PDA-1")});
}

TEST(TYhteydetTest, PoistaVanhentuneetRemovesEntriesMoreThanAnHourAway)
{
    const QDateTime now(QDate(2026, 3, 14), QTime(12, 0, 0));
    struct Entry {
        const char* id;
        qint64 secondsAgo;  // negative: in the future (the clock was set back)
        bool stays;
    };
    const Entry entries[] = {
        {"61 min", 61 * 60, false},        {"90 min", 90 * 60, false},         {"59 min", 59 * 60, true},
        {"exactly 60 min", 60 * 60, true}, {"60 min 1 s", 60 * 60 + 1, false}, {"just now", 0, true},
        {"61 min ahead", -61 * 60, false}, {"30 min ahead", -30 * 60, true},
    };
    TYhteydet y;
    QStringList staying;
    for (const Entry& e : entries) {
        y.add(QString::fromUtf8(e.id), QStringLiteral("Kairanet")).viimeksi_yhteydessa = now.addSecs(-e.secondsAgo);
        if (e.stays)
            staying << QString::fromUtf8(e.id);
    }
    EXPECT_EQ(y.PoistaVanhentuneet(now), static_cast<int>(std::size(entries)) - staying.size());
    EXPECT_EQ(idsOf(y), staying) << "the rest keep their order";
    for (const Entry& e : entries)
        EXPECT_EQ(y.EtsiYhteys(QString::fromUtf8(e.id), {}) != nullptr, e.stays) << e.id;
}

TEST(TYhteydetTest, ViewListsEveryEntryAndCountsOnlyExactKairanet)
{
    const QDateTime seen(QDate(2026, 3, 14), QTime(9, 5, 7));
    TYhteydet y;
    const char* sovellukset[] = {"Kairanet", "kairanet", "Kairanet ", "Varasto", "Kairanet", ""};
    int n = 0;
    for (const char* s : sovellukset)
        y.add(QStringLiteral("id%1").arg(++n), QString::fromUtf8(s)).viimeksi_yhteydessa = seen;

    const Yhteysnakyma view = buildYhteysnakyma(y);
    EXPECT_EQ(view.kairanetYhteyksia, 2);
    ASSERT_EQ(view.lines.size(), 6);
    n = 0;
    for (const char* s : sovellukset) {
        EXPECT_EQ(view.lines[n], QStringLiteral("id%1").arg(n + 1) + QStringLiteral("     ") + QString::fromUtf8(s) +
                                     QStringLiteral("     ") + dateTimeText(seen));
        ++n;
    }
    EXPECT_EQ(buildYhteysnakyma(TYhteydet{}).lines, QStringList{});
}

class ClientRegistryTest : public ::testing::Test {
protected:
    ClientRegistryTest()
    {
        test::qtApp();
        registry = std::make_unique<ClientRegistry>([this](const Yhteysnakyma& v) {
            view = v;
            ++updates;
        });
    }

    // Waits for the next rebuild of the view.
    bool nextView()
    {
        const int before = updates;
        return test::processEventsUntil([&] { return updates > before; }, 10000);
    }

    std::unique_ptr<ClientRegistry> registry;
    Yhteysnakyma view;
    int updates = 0;
};

TEST_F(ClientRegistryTest, PingOfAKnownIdKeepsTheFirstApplicationAndRefreshesTheTime)
{
    registry->postPing(QStringLiteral("Kairanet"), QStringLiteral("pda-1"));
    ASSERT_TRUE(nextView());
    ASSERT_EQ(view.lines.size(), 1);
    TYhteys* entry = registry->Yhteydet().EtsiYhteys(QStringLiteral("pda-1"), {});
    ASSERT_NE(entry, nullptr);
    entry->viimeksi_yhteydessa = QDateTime::currentDateTime().addSecs(-3600);  // an hour ago

    registry->postPing(QStringLiteral("Muu"), QStringLiteral("pda-1"));
    ASSERT_TRUE(nextView());
    ASSERT_EQ(registry->Yhteydet().count(), 1);
    EXPECT_EQ(entry->sovellus, QStringLiteral("Kairanet"));
    EXPECT_LT(entry->viimeksi_yhteydessa.secsTo(QDateTime::currentDateTime()), 600);
    EXPECT_EQ(view.kairanetYhteyksia, 1);
}

TEST_F(ClientRegistryTest, SovellusSuljetaanRemovesByIdAndRebuildsEvenWhenNothingIsListed)
{
    registry->postSovellusSuljetaan(QStringLiteral("Kairanet"), QStringLiteral("tuntematon"));
    ASSERT_TRUE(nextView()) << "an unknown id still rebuilds the view";
    EXPECT_TRUE(view.lines.isEmpty());

    registry->postPing(QStringLiteral("Kairanet"), QStringLiteral("pda-1"));
    registry->postPing(QStringLiteral("Varasto"), QStringLiteral("pda-2"));
    registry->postSovellusSuljetaan(QStringLiteral("Muu"), QStringLiteral("pda-1"));  // any application name
    ASSERT_TRUE(nextView());
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_TRUE(view.lines[0].startsWith(QStringLiteral("pda-2     Varasto     ")));
    EXPECT_EQ(view.kairanetYhteyksia, 0);

    // Stop empties it; the next Ping lists the client again.
    registry->clear();
    EXPECT_TRUE(view.lines.isEmpty());
    registry->postPing(QStringLiteral("Varasto"), QStringLiteral("pda-2"));
    ASSERT_TRUE(nextView());
    EXPECT_EQ(view.lines.size(), 1);
}

TEST_F(ClientRegistryTest, SnapshotFollowsTheViewAndIsReadFromAnotherThreadWithoutWaiting)
{
    EXPECT_TRUE(registry->snapshot()->rows.empty());
    registry->postPing(QStringLiteral("Kairanet"), QStringLiteral("pda-1"));
    registry->postPing(QStringLiteral("<b>Varasto</b>"), QStringLiteral("pda-2"));
    ASSERT_TRUE(nextView());

    // Read on another thread while the main thread is busy elsewhere: the copy is there.
    std::shared_ptr<const ClientSnapshot> seen;
    std::thread([&] { seen = registry->snapshot(); }).join();
    ASSERT_EQ(seen->rows.size(), 2u);
    EXPECT_EQ(seen->rows[0].id, QStringLiteral("pda-1"));
    EXPECT_EQ(seen->rows[1].sovellus, QStringLiteral("<b>Varasto</b>"));
    EXPECT_EQ(seen->kairanetYhteyksia, 1);
    EXPECT_EQ(view.lines[1], seen->rows[1].id + QStringLiteral("     ") + seen->rows[1].sovellus +
                                 QStringLiteral("     ") + seen->rows[1].viimeksi);

    registry->clear();
    EXPECT_TRUE(registry->snapshot()->rows.empty());
    EXPECT_EQ(seen->rows.size(), 2u) << "a copy already handed out stays whole";
}

}  // namespace

TEST_F(ClientRegistryTest, AFloodOfPingsFromManyThreadsIsAppliedInBatchesAndRebuildsTheViewRarely)
{
    // 4 request threads ping 200 clients 25,000 times each while the main thread is busy.
    constexpr int kThreads = 4;
    constexpr int kPingsPerThread = 25000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kPingsPerThread; ++i)
                registry->postPing(QStringLiteral("Kairanet"), QStringLiteral("pda-%1").arg((t * 50) + (i % 50)));
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(registry->pendingWork(), kThreads * kPingsPerThread);

    // The main thread applies everything handed over so far in one go, moments later.
    ASSERT_TRUE(test::processEventsUntil([&] { return registry->pendingWork() == 0; }, 5000));
    EXPECT_EQ(registry->Yhteydet().count(), kThreads * 50);
    ASSERT_TRUE(nextView());
    EXPECT_EQ(view.kairanetYhteyksia, kThreads * 50);
    EXPECT_LE(updates, 2) << "the view is rebuilt once per batch, not once per ping";
}

}  // namespace krp
