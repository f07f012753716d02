// One logical database used from many threads: pooled connections, nested use, transactions,
// lost links, closing and opening.
#include "db/Connection.h"
#include "db/Query.h"
#include "support/TestDatabases.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdint>
#include <latch>
#include <thread>

using namespace krp::db;
using krp::test::Backend;
using krp::test::DatabaseTest;

namespace {

class ConnectionPoolTest : public DatabaseTest {
protected:
    std::int64_t count(Database& database, const QString& sql)
    {
        Query q(database);
        q.addLine(sql);
        q.open();
        return q.field(0).asInteger();
    }
    std::int64_t count(const QString& sql) { return count(db(), sql); }

    void insertLabel(int id, int supplier)
    {
        Query q(db());
        q.setSql(
            {"INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI)",
             "VALUES (:p1,:p2,:p3,:p4,:p5,:p6)"});
        q.param("p1").setInteger(id);
        q.param("p2").setInteger(supplier);
        q.param("p3").setText(QStringLiteral("TUOTE-%1").arg(id));
        q.param("p4").setInteger(1);
        q.param("p5").setDateTime(QDateTime::currentDateTime());
        q.param("p6").setInteger(1);
        q.execute();
    }
};

TEST_P(ConnectionPoolTest, ConcurrentThreadsEachSeeTheirOwnStatements)
{
    constexpr int threads = 6;
    constexpr int rowsEach = 20;
    std::vector<std::string> failures(threads);
    std::latch start(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            try {
                const int supplier = 9000 + t;
                for (int i = 0; i < rowsEach; ++i) {
                    insertLabel(supplier * 1000 + i, supplier);
                    Query q(db());
                    q.setSql({"SELECT COUNT(*) AS N, MAX(KET_ID) AS M FROM KERUUTARRA", "WHERE KET_TOIMITTAJANRO=:s"});
                    q.param("s").setInteger(supplier);
                    q.open();
                    if (q.fieldByName("N").asInteger() != i + 1 ||
                        q.fieldByName("M").asInteger() != supplier * 1000 + i)
                        failures[t] = "thread " + std::to_string(t) + " read another thread's rows";
                }
            } catch (const Error& e) {
                failures[t] = e.what();
            }
        });
    }
    for (auto& w : workers)
        w.join();
    for (const auto& f : failures)
        EXPECT_EQ(f, "");
    EXPECT_EQ(count("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_TOIMITTAJANRO>=9000"), threads * rowsEach);
}

TEST_P(ConnectionPoolTest, ThreadsWorkingAtTheSameTimeHaveSeparateConnections)
{
    std::latch created(1);
    std::latch checked(1);
    std::string otherThreadSaw;
    std::thread other([&] {
        created.wait();
        try {
            count("SELECT COUNT(*) FROM TMP_OMA");
            otherThreadSaw = "the temporary table of another connection";
        } catch (const Error&) {
            otherThreadSaw = "no table";
        }
        checked.count_down();
    });
    db().withConnection([&](Connection&) {
        Query q(db());
        q.addLine("CREATE TEMPORARY TABLE TMP_OMA (X INTEGER)");
        q.execute();
        q.clearSql();
        q.addLine("INSERT INTO TMP_OMA (X) VALUES (1)");
        q.execute();
        created.count_down();
        checked.wait();  // the other thread ran its statement while this lease was held
        EXPECT_EQ(count("SELECT COUNT(*) FROM TMP_OMA"), 1);  // nested use: same connection
    });
    other.join();
    EXPECT_EQ(otherThreadSaw, "no table");
}

TEST_P(ConnectionPoolTest, PoolWithOneConnectionMakesTheSecondThreadWait)
{
    db().setMaxConnections(1);
    std::latch leased(1);
    std::atomic<bool> released{false};
    bool sawRelease = false;
    std::thread other([&] {
        leased.wait();
        count("SELECT COUNT(*) FROM ASETUS");  // waits for the one connection
        sawRelease = released.load();
    });
    db().withConnection([&](Connection&) {
        leased.count_down();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        released = true;
    });
    other.join();
    EXPECT_TRUE(sawRelease);
}

TEST_P(ConnectionPoolTest, TransactionCommitsOrRollsBackItsStatements)
{
    const QString countIds = QStringLiteral("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_ID IN (1, 2)");
    {
        Transaction t(db());
        insertLabel(1, 1);
        EXPECT_EQ(count(countIds), 1);  // visible inside
        std::int64_t seenOutside = -1;
        std::thread([&] { seenOutside = count(countIds); }).join();
        EXPECT_EQ(seenOutside, 0);  // not yet for other threads
    }                               // rolled back
    EXPECT_EQ(count(countIds), 0);
    {
        Transaction t(db());
        insertLabel(1, 1);
        insertLabel(2, 1);
        t.commit();
    }
    EXPECT_EQ(count(countIds), 2);
    {
        Transaction t(db());
        EXPECT_THROW({ Transaction nested(db()); }, Error);  // one per thread
        insertLabel(3, 1);
        t.rollback();
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_ID=3"), 0);
}

TEST_P(ConnectionPoolTest, LostLinkIsReplacedAndTheStatementRunsAgain)
{
    EXPECT_EQ(count("SELECT COUNT(*) FROM MAARPER"), 9);
    db().simulateLostLinkForTesting();
    EXPECT_EQ(count("SELECT COUNT(*) FROM MAARPER"), 9);
    insertLabel(11, 1);
    db().simulateLostLinkForTesting();
    insertLabel(12, 1);  // a write is tried once more too
    EXPECT_EQ(count("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_ID IN (11, 12)"), 2);
}

TEST_P(ConnectionPoolTest, KilledServerConnectionIsReplaced)
{
    if (backend() != Backend::MariaDb)
        GTEST_SKIP() << "SQLite has no server connection to kill";
    const std::int64_t first = count("SELECT CONNECTION_ID() FROM DUAL");
    Database killer;
    killer.open(testDb().settings());
    Query kill(killer);
    kill.addLine(QStringLiteral("KILL %1").arg(first));
    kill.execute();

    const std::int64_t second = count("SELECT CONNECTION_ID() FROM DUAL");
    EXPECT_NE(second, first);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MAARPER"), 9);
}

TEST_P(ConnectionPoolTest, LostLinkInsideATransactionIsReportedNotRetried)
{
    {
        Transaction t(db());
        insertLabel(21, 1);
        db().withConnection([](Connection& c) { c.breakLink(); });
        try {
            insertLabel(22, 1);
            FAIL() << "a statement on a lost link inside a transaction succeeded";
        } catch (const Error& e) {
            EXPECT_TRUE(e.isLinkLost()) << e.what();
        }
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_ID IN (21, 22)"), 0);
}

TEST_P(ConnectionPoolTest, StatementsAfterCloseFailClearlyAndOpenRestoresThem)
{
    db().close();
    EXPECT_FALSE(db().isOpen());
    try {
        count("SELECT COUNT(*) FROM MAARPER");
        FAIL() << "a statement ran on a closed database";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("not connected"), std::string::npos) << e.what();
    }
    db().open(testDb().settings());
    EXPECT_EQ(count("SELECT COUNT(*) FROM MAARPER"), 9);
}

TEST_P(ConnectionPoolTest, DuplicateKeyIsToldApartFromOtherRefusals)
{
    insertLabel(31, 1);
    try {
        insertLabel(31, 1);
        FAIL() << "a duplicate key was accepted";
    } catch (const Error& e) {
        EXPECT_TRUE(e.isDuplicateKey()) << e.what() << " " << e.sqlState() << " " << e.nativeCode();
        EXPECT_FALSE(e.isLinkLost());
    }
    try {
        testDb().execute(QStringLiteral("INSERT INTO ASETUS (ASETUS, ARVO) VALUES (NULL, 'x')"));
        FAIL() << "a null key was accepted";
    } catch (const Error& e) {
        EXPECT_FALSE(e.isDuplicateKey()) << e.what();
    }
}

KRP_INSTANTIATE_ON_BACKENDS(ConnectionPoolTest);

// Opening fails with the database's own message, and the database stays closed.
// A SQLite connection keeps its statements prepared. A kept statement runs again with other
// values, sees a table that another connection changed, works after a run that failed half-way,
// and holds no read snapshot between runs (a checkpoint from another connection completes).
TEST(PreparedStatementTest, KeptStatementsFollowTheDatabaseAndHoldNothingBetweenRuns)
{
    krp::test::TestDatabase tdb(Backend::Sqlite, krp::test::Content::SchemaOnly);
    auto c = connect(tdb.settings());
    auto other = connect(tdb.settings());
    const QString insert = QStringLiteral(
        "INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI) "
        "VALUES (?, ?, 'TUOTE', 1, '2026-12-10 08:00:00', 1)");
    const QString bySupplier = QStringLiteral("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_TOIMITTAJANRO=?");
    const auto countFor = [&](std::int64_t supplier) {
        return std::get<std::int64_t>(c->run(bySupplier, {Value{supplier}}).rows.rows.at(0).at(0));
    };
    for (std::int64_t id = 1; id <= 3; ++id)
        c->run(insert, {Value{id}, Value{id == 3 ? std::int64_t{20} : std::int64_t{10}}});
    EXPECT_EQ(countFor(10), 2);
    EXPECT_EQ(countFor(20), 1);

    // Fails while it reads the table: abs() of the smallest integer overflows.
    const QString failing = QStringLiteral("SELECT KET_ID, abs(?) FROM KERUUTARRA ORDER BY KET_ID");
    EXPECT_THROW(c->run(failing, {Value{INT64_MIN}}), Error);
    const auto checkpoint = other->run(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), {});
    EXPECT_EQ(std::get<std::int64_t>(checkpoint.rows.rows.at(0).at(0)), 0) << "a reader still holds the log";
    EXPECT_EQ(c->run(failing, {Value{std::int64_t{5}}}).rows.rows.size(), 3u);

    const QString everything = QStringLiteral("SELECT * FROM KERUUTARRA WHERE KET_ID=?");
    const auto columnsBefore = c->run(everything, {Value{std::int64_t{1}}}).rows.columns.size();
    other->run(QStringLiteral("ALTER TABLE KERUUTARRA ADD COLUMN KET_LISATIETO VARCHAR(10)"), {});
    other->run(QStringLiteral("DELETE FROM KERUUTARRA WHERE KET_TOIMITTAJANRO=10"), {});
    EXPECT_EQ(c->run(everything, {Value{std::int64_t{3}}}).rows.columns.size(), columnsBefore + 1);
    EXPECT_EQ(countFor(10), 0);

    c->reconnect();
    EXPECT_EQ(countFor(20), 1);
}

TEST(DatabaseOpenTest, FailureCarriesTheDriversMessage)
{
    QTemporaryDir dir;
    ConnectionSettings missing;
    missing.kind = ConnectionSettings::Kind::Sqlite;
    missing.sqlitePath = dir.filePath(QStringLiteral("ei-ole.db"));

    ConnectionSettings noDriver;
    noDriver.kind = ConnectionSettings::Kind::Odbc;
    noDriver.odbcConnectionString = QStringLiteral("DRIVER={No Such Driver};SERVER=127.0.0.1");

    const ConnectionSettings solid = parseDatabaseField(QStringLiteral("127.0.0.1 1"), kSolidDb100Driver, dir.path());

    struct Case {
        ConnectionSettings settings;
        const char* expected;
    };
    for (const Case& c :
         {Case{missing, "ei-ole.db"}, Case{noDriver, "No Such Driver"}, Case{solid, "solidDB 100.0 32-bit - (ANSI)"}}) {
        Database database;
        try {
            database.open(c.settings);
            FAIL() << "opened " << c.settings.describe().toStdString();
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        EXPECT_FALSE(database.isOpen());
        EXPECT_FALSE(QFile::exists(missing.sqlitePath));  // a missing file is not created
    }
}

TEST(DatabaseOpenTest, WrongMariaDbPasswordIsRefusedWithTheServersMessage)
{
    if (!krp::test::mariaDbConfigured())
        GTEST_SKIP() << krp::test::mariaDbSkipMessage();
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::Odbc;
    s.odbcConnectionString = QString::fromUtf8(qgetenv("KRP_TEST_ODBC"))
                                 .replace(QRegularExpression(QStringLiteral("PWD=[^;]*")), QStringLiteral("PWD=wrong"));
    Database database;
    try {
        database.open(s);
        FAIL() << "a wrong password was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Access denied"), std::string::npos) << e.what();
    }
}

}  // namespace
