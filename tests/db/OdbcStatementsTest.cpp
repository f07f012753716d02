// A pooled ODBC connection keeps the statements it has prepared: on MariaDB, the server's own
// count of prepares (Com_stmt_prepare of the session) shows which runs prepared and which only
// executed.
#include "db/Connection.h"
#include "support/TestDatabases.h"

using namespace krp::db;
using krp::test::Backend;
using krp::test::Content;
using krp::test::TestDatabase;

namespace {

class OdbcStatementsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!krp::test::mariaDbConfigured())
            GTEST_SKIP() << krp::test::mariaDbSkipMessage();
        tdb_ = std::make_unique<TestDatabase>(Backend::MariaDb, Content::SchemaOnly);
        c_ = connect(tdb_->settings());
    }

    // Statements this connection's session has prepared on the server so far.
    std::int64_t prepares()
    {
        const auto out = c_->run(QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                                "WHERE VARIABLE_NAME='COM_STMT_PREPARE'"),
                                 {});
        return std::get<QString>(out.rows.rows.at(0).at(0)).toLongLong();
    }

    std::int64_t single(const QString& sql, std::vector<Value> params = {})
    {
        return std::get<std::int64_t>(c_->run(sql, params).rows.rows.at(0).at(0));
    }

    std::unique_ptr<TestDatabase> tdb_;
    std::unique_ptr<Connection> c_;
};

const QString kInsert = QStringLiteral(
    "INSERT INTO KERUUTARRA (KET_ID, KET_TOIMITTAJANRO, KET_TUOTEKOODI, KET_MAARA, KET_LISATTY, KET_TYYPPI) "
    "VALUES (?, ?, 'TUOTE', 1, '2026-12-10 08:00:00', 1)");
const QString kBySupplier = QStringLiteral("SELECT COUNT(*) FROM KERUUTARRA WHERE KET_TOIMITTAJANRO=?");

// A kept statement runs again with other values without being prepared again, runs after a
// run that failed, holds no lock between runs (another session alters its table at once) and
// sees the altered table; a new link prepares anew.
TEST_F(OdbcStatementsTest, KeptStatementsArePreparedOnceAndHoldNothingBetweenRuns)
{
    const std::int64_t before = prepares();
    for (std::int64_t id = 1; id <= 3; ++id)
        c_->run(kInsert, {Value{id}, Value{id == 3 ? std::int64_t{20} : std::int64_t{10}}});
    EXPECT_EQ(single(kBySupplier, {Value{std::int64_t{10}}}), 2);
    EXPECT_EQ(single(kBySupplier, {Value{std::int64_t{20}}}), 1);
    EXPECT_EQ(prepares() - before, 2) << "the insert and the count, once each";

    try {
        c_->run(kInsert, {Value{std::int64_t{1}}, Value{std::int64_t{10}}});
        ADD_FAILURE() << "a duplicate key was accepted";
    } catch (const Error& e) {
        EXPECT_TRUE(e.isDuplicateKey()) << e.what();
    }
    c_->run(kInsert, {Value{std::int64_t{4}}, Value{std::int64_t{10}}});
    EXPECT_EQ(single(kBySupplier, {Value{std::int64_t{10}}}), 3);

    const QString everything = QStringLiteral("SELECT * FROM KERUUTARRA WHERE KET_ID=?");
    const auto columnsBefore = c_->run(everything, {Value{std::int64_t{1}}}).rows.columns.size();
    auto other = connect(tdb_->settings());
    other->run(QStringLiteral("SET SESSION lock_wait_timeout=2"), {});
    other->run(QStringLiteral("ALTER TABLE KERUUTARRA ADD KET_LISATIETO VARCHAR(10)"), {});
    other->run(QStringLiteral("UPDATE KERUUTARRA SET KET_LISATIETO='uusi' WHERE KET_ID=3"), {});
    const auto after = c_->run(everything, {Value{std::int64_t{3}}});
    ASSERT_EQ(after.rows.columns.size(), columnsBefore + 1);
    EXPECT_EQ(std::get<QString>(after.rows.rows.at(0).back()), QStringLiteral("uusi"));

    c_->reconnect();
    const std::int64_t fresh = prepares();
    EXPECT_EQ(single(kBySupplier, {Value{std::int64_t{20}}}), 1);
    EXPECT_EQ(prepares() - fresh, 1);
}

// At most 128 statements are kept; the one used least recently goes first.
TEST_F(OdbcStatementsTest, LeastRecentlyUsedStatementGoesFirst)
{
    const auto numbered = [](int n) { return QStringLiteral("SELECT ? + %1 FROM DUAL").arg(n); };
    const std::int64_t start = prepares();  // the count's own statement is kept from here
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(single(numbered(n), {Value{std::int64_t{1}}}), n + 1);
    single(numbered(0), {Value{std::int64_t{1}}});  // the oldest is used again
    const std::int64_t full = prepares();           // the count's statement had gone: prepared again
    EXPECT_EQ(full - start, 128 + 1);
    single(numbered(0), {Value{std::int64_t{1}}});  // still kept
    single(numbered(1), {Value{std::int64_t{1}}});  // went for the count's statement
    EXPECT_EQ(prepares() - full, 1);
}

}  // namespace
