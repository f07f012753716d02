// The event log's daily file: appending, a new file each day, old days removed, failures said
// once in the log.
#include "support/QtTestApp.h"
#include "log/DailyLogFile.h"
#include "log/EventLog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace krp;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

class DailyLogFileTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApp(); }

    QString logDir() const { return dir.filePath(QStringLiteral("loki")); }
    std::unique_ptr<DailyLogFile> file(int daysKept)
    {
        return std::make_unique<DailyLogFile>(logDir(), daysKept, [this] { return today; });
    }
    QStringList filesThere() const { return QDir(logDir()).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir dir;
    QDate today{2026, 12, 10};
};

TEST_F(DailyLogFileTest, LinesGoToTheDaysFileInOrderAndANewDayStartsANewFile)
{
    auto f = file(14);
    EXPECT_EQ(f->write({QStringLiteral("eka"), QStringLiteral("toka ää")}), QString());
    EXPECT_EQ(f->write({QStringLiteral("kolmas")}), QString());
    today = today.addDays(1);
    EXPECT_EQ(f->write({QStringLiteral("huomenna")}), QString());
    EXPECT_EQ(filesThere(),
              (QStringList{QStringLiteral("krpalvelin-2026-12-10.log"), QStringLiteral("krpalvelin-2026-12-11.log")}));
    EXPECT_EQ(readAll(f->fileNameFor({2026, 12, 10})), QByteArray("eka\ntoka \xc3\xa4\xc3\xa4\nkolmas\n"));
    EXPECT_EQ(readAll(f->fileNameFor({2026, 12, 11})), QByteArray("huomenna\n"));
}

TEST_F(DailyLogFileTest, AnExistingFileOfTheDayIsAppendedTo)
{
    QDir().mkpath(logDir());
    writeAll(QDir(logDir()).filePath(QStringLiteral("krpalvelin-2026-12-10.log")), "aiempi\n");
    file(14)->write({QStringLiteral("uusi")});
    EXPECT_EQ(readAll(QDir(logDir()).filePath(QStringLiteral("krpalvelin-2026-12-10.log"))),
              QByteArray("aiempi\nuusi\n"));
}

TEST_F(DailyLogFileTest, OnlyTheNewestDaysAreKeptAndOtherFilesAreLeftAlone)
{
    QDir().mkpath(logDir());
    const QStringList others = {QStringLiteral("krpalvelin-huomio.log"), QStringLiteral("muistiinpanot.txt"),
                                QStringLiteral("krpalvelin-2026-12-01.log.bak")};
    for (const QString& name : others)
        writeAll(QDir(logDir()).filePath(name), "x");
    for (int back = 1; back <= 10; ++back)
        writeAll(
            QDir(logDir()).filePath(today.addDays(-back).toString(QStringLiteral("'krpalvelin-'yyyy-MM-dd'.log'"))),
            "x");
    struct Case {
        int daysKept;
        QString oldestKept;
    };
    // Each write of a new day removes what falls out; today counts as one of the days.
    const Case cases[] = {{7, QStringLiteral("krpalvelin-2026-12-04.log")},
                          {3, QStringLiteral("krpalvelin-2026-12-08.log")},
                          {1, QStringLiteral("krpalvelin-2026-12-10.log")}};
    for (const Case& c : cases) {
        file(c.daysKept)->write({QStringLiteral("rivi")});
        QStringList logs;
        for (const QString& name : filesThere())
            if (!others.contains(name))
                logs += name;
        ASSERT_EQ(logs.size(), c.daysKept) << c.daysKept;
        EXPECT_EQ(logs.front(), c.oldestKept);
        EXPECT_EQ(logs.back(), QStringLiteral("krpalvelin-2026-12-10.log"));
        for (const QString& name : others)
            EXPECT_TRUE(filesThere().contains(name)) << name.toStdString();
    }
}

TEST_F(DailyLogFileTest, AFailureIsSaidOnceInTheLogAndWritingResumesWhenPossible)
{
    writeAll(logDir(), "tiedosto, ei hakemisto");  // the directory cannot be created
    EventLog log;
    log.setLogFile(file(14));
    log.appendLine(QStringLiteral("a"));
    log.appendLine(QStringLiteral("b"));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("a"));
    EXPECT_TRUE(lines[1].contains(QStringLiteral(": Lokitiedostoon ei voitu kirjoittaa: ")));
    EXPECT_TRUE(lines[1].contains(QDir::toNativeSeparators(logDir()))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("b"));

    QFile::remove(logDir());
    log.appendLine(QStringLiteral("c"));
    EXPECT_EQ(log.lineCount(), 4);
    EXPECT_EQ(readAll(QDir(logDir()).filePath(QStringLiteral("krpalvelin-2026-12-10.log"))), QByteArray("c\n"));
}

}  // namespace
