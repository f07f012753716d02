#pragma once
// Fresh ERP databases for tests, on SQLite and on MariaDB, and the fixture that runs one test
// suite on both.
//
// Writing a suite that runs on both databases:
//
//     #include "support/TestDatabases.h"
//     using krp::test::DatabaseTest;
//
//     class TuotehakuTest : public DatabaseTest {};   // demo data loaded; or override content()
//
//     TEST_P(TuotehakuTest, FindsByEan) {
//         krp::db::Query q(db());                     // db(): the opened krp::db::Database
//         q.addLine("SELECT TP_NIMI FROM TUOTPER WHERE TP_EANKOODI=:ean");
//         q.param("ean").setText("6417000100014");
//         q.open();
//         EXPECT_EQ(q.fieldByName("TP_NIMI").asText(), "Jarrupalasarja etu VW Golf VII");
//     }
//     KRP_INSTANTIATE_ON_BACKENDS(TuotehakuTest);
//
// Each test gets its own database: SQLite in a temporary file, MariaDB as a uniquely named
// database created for the test and dropped after it. Both hold db/schema.sql, the TABLES
// catalogue view and, unless content() says otherwise, db/demo-data.sql. The MariaDB variant
// needs the environment variable KRP_TEST_ODBC (the connection string that
// scripts/start-mariadb prints); without it the MariaDB variant of every test is skipped with a
// message saying so. Link the test with krp_test_support.
//
// Outside a fixture: `krp::test::TestDatabase tdb(Backend::Sqlite, Content::SchemaOnly);`
// gives the same database by itself (check mariaDbConfigured() first for MariaDB).
#include "db/Database.h"
#include "db/Query.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace krp::test {

enum class Backend { Sqlite, MariaDb };
enum class Content { SchemaOnly, DemoData };

// "Sqlite" / "MariaDb": the suffix of a parameterised test's name.
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// True when KRP_TEST_ODBC names a MariaDB server for the tests.
bool mariaDbConfigured();
// The message of a MariaDB test skipped for want of a server.
const char* mariaDbSkipMessage();

// The text of db/FILE in the source tree.
QString readSourceFile(const QString& relativePath);

class TestDatabase {
public:
    // Creates and opens a fresh database. Throws krp::db::Error when it cannot (for MariaDB
    // also when KRP_TEST_ODBC is unset).
    explicit TestDatabase(Backend backend, Content content = Content::DemoData);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    Backend backend() const { return backend_; }
    db::Database& database() { return database_; }
    // Settings that open the same database again (for a second Database in a test).
    const db::ConnectionSettings& settings() const { return settings_; }

    // Runs statements without parameters: one statement, or a script split at ';'.
    void execute(const QString& sqlOrScript);
    // The first column of the first row of a query, as text / integer ("" / 0 when no row).
    QString text(const QString& sql);
    std::int64_t integer(const QString& sql);

private:
    Backend backend_;
    db::ConnectionSettings settings_;
    db::Database database_;
    QString mariaDbName_;                       // MariaDB: the database to drop afterwards
    std::unique_ptr<QTemporaryDir> sqliteDir_;  // SQLite: removed afterwards
};

// A fixture whose parameter is the backend: each test gets a fresh database.
class DatabaseTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;
    // What the fresh database holds; override for a schema without rows.
    virtual Content content() const { return Content::DemoData; }

    db::Database& db() { return testDb_->database(); }
    TestDatabase& testDb() { return *testDb_; }
    Backend backend() const { return GetParam(); }
    bool onSqlite() const { return GetParam() == Backend::Sqlite; }

private:
    std::unique_ptr<TestDatabase> testDb_;
};

}  // namespace krp::test

// Runs every TEST_P of `Suite` on SQLite and on MariaDB.
#define KRP_INSTANTIATE_ON_BACKENDS(Suite)                                                                            \
    INSTANTIATE_TEST_SUITE_P(, Suite, ::testing::Values(::krp::test::Backend::Sqlite, ::krp::test::Backend::MariaDb), \
                             ::krp::test::backendName)
