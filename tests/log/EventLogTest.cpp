// The event log: hand-over from other threads, order, time of append, line breaks, volume.
#include "support/QtTestApp.h"
#include "log/DateTimeText.h"
#include "log/EventLog.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

using namespace krp;

namespace {

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApp();
        EventLog::setInstance(&log);
    }
    void TearDown() override { EventLog::setInstance(nullptr); }

    // Message part of a stamped line ("<time text>: <message>").
    static QString messageOf(const QString& line)
    {
        const qsizetype at = line.indexOf(QStringLiteral(": "));
        return at < 0 ? QString() : line.mid(at + 2);
    }

    EventLog log;
};

TEST_F(EventLogTest, MainThreadLineIsStampedAndAppendedAtOnce)
{
    const QString before = nowText();
    TekstiLokiin(QStringLiteral("Palvelu käynnistetty"));
    const QString after = nowText();
    ASSERT_EQ(log.lineCount(), 1);
    const QString line = log.lines().first();
    EXPECT_TRUE(line == before + QStringLiteral(": Palvelu käynnistetty") ||
                line == after + QStringLiteral(": Palvelu käynnistetty"))
        << line.toStdString();
}

TEST_F(EventLogTest, FinishedLinesAreAppendedUnchanged)
{
    appendLogLine(QStringLiteral("9.12.2026 23.26.38 Tuotetiedot: valmis"));
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("9.12.2026 23.26.38 Tuotetiedot: valmis")});
}

TEST_F(EventLogTest, MessageWithLineBreaksOccupiesSeveralLines)
{
    appendLogLine(QStringLiteral("eka\r\ntoka\nkolmas\rneljäs"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("eka"), QStringLiteral("toka"), QStringLiteral("kolmas"),
                                        QStringLiteral("neljäs")}));
}

TEST_F(EventLogTest, OtherThreadReturnsAtOnceAndLineWaitsForTheMainThread)
{
    std::thread worker([] { TekstiLokiin(QStringLiteral("pyynnöstä")); });
    worker.join();
    // Nothing appears until the main thread runs its queue.
    EXPECT_EQ(log.lineCount(), 0);
    ASSERT_TRUE(test::processEventsUntil([&] { return log.lineCount() == 1; }));
    EXPECT_EQ(messageOf(log.lines().first()), QStringLiteral("pyynnöstä"));
}

TEST_F(EventLogTest, HandedOverLineCarriesTheTimeOfAppendNotOfTheCall)
{
    QString callTime;
    std::thread worker([&] {
        callTime = nowText();
        TekstiLokiin(QStringLiteral("myöhässä"));
    });
    worker.join();
    // Let the clock move on to another second before the main thread gets to the line.
    while (nowText() == callTime)
        QThread::msleep(20);
    const QString before = nowText();
    log.appendHandedOver();
    const QString after = nowText();
    ASSERT_EQ(log.lineCount(), 1);
    const QString line = log.lines().first();
    EXPECT_FALSE(line.startsWith(callTime + QStringLiteral(": "))) << line.toStdString();
    EXPECT_TRUE(line.startsWith(before + QStringLiteral(": ")) || line.startsWith(after + QStringLiteral(": ")))
        << line.toStdString();
}

TEST_F(EventLogTest, EightThreadsKeepTheirOwnOrder)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &ready] {
            ++ready;
            while (ready < kThreads) {}
            for (int i = 0; i < kPerThread; ++i) {
                if (i % 2 == 0)
                    TekstiLokiin(QStringLiteral("s%1 %2").arg(t).arg(i));
                else
                    appendStampedLineLocked(QStringLiteral("s%1 %2").arg(t).arg(i));
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return log.lineCount() == kThreads * kPerThread; }));

    std::vector<int> next(kThreads, 0);
    static const QRegularExpression pattern(QStringLiteral("^s(\\d+) (\\d+)$"));
    for (const QString& line : log.lines()) {
        const auto m = pattern.match(messageOf(line));
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]) << "thread " << t;
        next[t] = m.captured(2).toInt() + 1;
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kPerThread);
}

TEST_F(EventLogTest, LinesAppendedInTheSameSecondCarryTheSameTimeText)
{
    QString a, b;
    do {
        log.appendStamped(QStringLiteral("a"));
        log.appendStamped(QStringLiteral("b"));
        const QStringList lines = log.lines();
        a = lines[lines.size() - 2];
        b = lines.back();
    } while (a.section(QStringLiteral(": "), 0, 0) != b.section(QStringLiteral(": "), 0, 0) && log.lineCount() < 100);
    EXPECT_EQ(a.section(QStringLiteral(": "), 0, 0), b.section(QStringLiteral(": "), 0, 0));
}

TEST_F(EventLogTest, HundredThousandLinesAreAllKept)
{
    std::thread worker([] {
        for (int i = 0; i < 100000; ++i)
            appendLogLine(QString::number(i));
    });
    worker.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return log.lineCount() == 100000; }));
    const QStringList lines = log.lines();
    for (int i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], QString::number(i));
}

TEST_F(EventLogTest, LinesAppendedSignalCarriesEveryLineInOrder)
{
    QSignalSpy spy(&log, &EventLog::linesAppended);
    appendLogLine(QStringLiteral("a\nb"));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toStringList(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST_F(EventLogTest, ABurstFromAnotherThreadReachesTheMainThreadInOneHandOver)
{
    QSignalSpy spy(&log, &EventLog::linesAppended);
    std::thread worker([] {
        for (int i = 0; i < 1000; ++i) {
            if (i % 2 == 0)
                appendLogLine(QString::number(i));
            else
                TekstiLokiin(QString::number(i));
        }
    });
    worker.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return log.lineCount() == 1000; }));
    ASSERT_EQ(spy.count(), 1);
    const QStringList batch = spy.at(0).at(0).toStringList();
    ASSERT_EQ(batch.size(), 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(i % 2 == 0 ? batch[i] : messageOf(batch[i]), QString::number(i));
    EXPECT_EQ(log.lines(), batch);
}

TEST_F(EventLogTest, KeepsTheNewestLinesUpToTheLimit)
{
    struct Case {
        int limit;
        int appended;
        int firstKept;
    };
    const Case cases[] = {{5, 3, 0}, {5, 5, 0}, {5, 6, 1}, {5, 12, 7}, {1, 4, 3}, {0, 4, 3}};
    for (const Case& c : cases) {
        EventLog bounded;
        bounded.setLineLimit(c.limit);
        std::thread worker([&] {
            for (int i = 0; i < c.appended; ++i)
                bounded.appendLine(QString::number(i));
        });
        worker.join();
        bounded.appendHandedOver();
        QStringList expected;
        for (int i = c.firstKept; i < c.appended; ++i)
            expected += QString::number(i);
        EXPECT_EQ(bounded.lines(), expected) << "limit " << c.limit << ", " << c.appended << " lines";
        EXPECT_EQ(bounded.appendedCount(), c.appended);
    }
}

// Lines are numbered from the start (the first appended is 1); a reader asks for the lines after
// the last number it has seen, and one that fell behind the limit gets the oldest kept lines.
TEST_F(EventLogTest, LinesAreReadByTheirNumbers)
{
    log.setLineLimit(5);
    for (int i = 1; i <= 8; ++i)
        appendLogLine(QStringLiteral("rivi %1 äö").arg(i));  // 4 to 8 are kept
    struct Case {
        qint64 after;
        int limit;
        std::vector<qint64> numbers;
    };
    const Case cases[] = {
        {0, 100, {4, 5, 6, 7, 8}}, {5, 100, {6, 7, 8}}, {5, 2, {7, 8}}, {8, 100, {}}, {20, 10, {}}, {2, 0, {}}};
    for (const Case& c : cases) {
        const EventLog::NumberedLines n = log.linesAfter(c.after, c.limit);
        std::vector<qint64> numbers;
        for (qsizetype i = 0; i < n.lines.size(); ++i) {
            numbers.push_back(n.first + i);
            EXPECT_EQ(n.lines[i], QStringLiteral("rivi %1 äö").arg(n.first + i));
        }
        EXPECT_EQ(numbers, c.numbers) << "after " << c.after << ", at most " << c.limit;
    }
    EXPECT_EQ(log.firstSequence(), 4);
    EXPECT_EQ(log.lineAt(8), QStringLiteral("rivi 8 äö"));
    EXPECT_TRUE(log.lineAt(3).isNull());
    EXPECT_TRUE(log.lineAt(9).isNull());
}

TEST_F(EventLogTest, LoweringTheLimitDropsTheOldestLinesAtOnce)
{
    for (int i = 0; i < 10; ++i)
        appendLogLine(QString::number(i));
    log.setLineLimit(3);
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9")}));
    appendLogLine(QStringLiteral("10\n11"));  // a message's lines count one by one
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("11")}));
}

TEST_F(EventLogTest, LinesAfterANumberAreTheNewerKeptLinesUpToTheLimit)
{
    // Line i (from 1) reads "i"; 10 appended, the newest 6 kept.
    log.setLineLimit(6);
    for (int i = 1; i <= 10; ++i)
        appendLogLine(QString::number(i));
    struct Case {
        qint64 after;
        int limit;
        qint64 first;  // number of the first line returned
        int count;
    };
    const Case cases[] = {
        {0, 100, 5, 6},    // from the start: only the kept lines, so lines 1-4 were skipped
        {6, 100, 7, 4},    // the lines after the 6th
        {8, 1, 10, 1},     // the newest one only
        {0, 2, 9, 2},      // a small limit takes the newest, not the oldest
        {10, 100, 11, 0},  // nothing new
        {20, 100, 21, 0},  // a number from the future (another process run): nothing
        {-5, 0, 11, 0},    // limit 0: nothing
    };
    for (const Case& c : cases) {
        const EventLog::NumberedLines n = log.linesAfter(c.after, c.limit);
        EXPECT_EQ(n.last, 10);
        EXPECT_EQ(n.lines.size(), c.count) << "after " << c.after << ", limit " << c.limit;
        if (c.count > 0) {
            EXPECT_EQ(n.first, c.first) << "after " << c.after << ", limit " << c.limit;
            for (int i = 0; i < c.count; ++i)
                EXPECT_EQ(n.lines[i], QString::number(n.first + i));
        }
    }
}

TEST_F(EventLogTest, LinesAfterIsReadWhileAnotherThreadAppends)
{
    std::atomic<bool> done{false};
    std::thread reader([&] {
        qint64 seen = 0;
        while (!done) {
            const EventLog::NumberedLines n = log.linesAfter(seen, 1000);
            for (int i = 0; i < n.lines.size(); ++i)
                EXPECT_EQ(n.lines[i], QString::number(n.first + i));
            if (!n.lines.isEmpty())
                seen = n.first + n.lines.size() - 1;
        }
    });
    for (int i = 1; i <= 20000; ++i)
        appendLogLine(QString::number(i));
    done = true;
    reader.join();
    EXPECT_EQ(log.linesAfter(19999, 10).lines, QStringList{QStringLiteral("20000")});
}

TEST(WindowLock, IsReentrantAndSharedByAllThreads)
{
    QRecursiveMutex& lock = windowLock();
    lock.lock();
    lock.lock();  // re-entrant
    bool taken = true;
    std::thread other([&] { taken = lock.tryLock(); });
    other.join();
    EXPECT_FALSE(taken);
    lock.unlock();
    lock.unlock();
    std::thread again([&] {
        taken = lock.tryLock();
        if (taken)
            lock.unlock();
    });
    again.join();
    EXPECT_TRUE(taken);
}

TEST(EventLogInstance, IsCreatedOnDemandOnTheMainThread)
{
    test::qtApp();
    EventLog::setInstance(nullptr);
    EventLog* fromWorker = nullptr;
    std::thread worker([&] { fromWorker = EventLog::instance(); });
    worker.join();
    ASSERT_NE(fromWorker, nullptr);
    EXPECT_EQ(fromWorker->thread(), QCoreApplication::instance()->thread());
    EXPECT_EQ(EventLog::instance(), fromWorker);
}

}  // namespace
