#include "db/Error.h"
#include "db/SqliteDialect.h"

#include <gtest/gtest.h>

using krp::db::sqlite::translate;

namespace {

struct DialectCase {
    const char* sql;
    const char* sqlite;
};

class SqliteTranslateTest : public ::testing::TestWithParam<DialectCase> {};

TEST_P(SqliteTranslateTest, RewritesForSqlite)
{
    EXPECT_EQ(translate(QString::fromUtf8(GetParam().sql)), QString::fromUtf8(GetParam().sqlite));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SqliteTranslateTest,
    ::testing::Values(DialectCase{"SELECT A FROM ASIAKPER\nWHERE UPPER(AP_NIMI) LIKE ? AND ROWNUM<100",
                                  "SELECT A FROM ASIAKPER\nWHERE UPPER(AP_NIMI) LIKE ? AND 1=1\nLIMIT 99"},
                      DialectCase{"SELECT * FROM T WHERE rownum <= 5;", "SELECT * FROM T WHERE 1=1\nLIMIT 5"},
                      DialectCase{"AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL))",
                                  "AND (KEO_JATKOKASITELTY<'2000-01-01' OR KEO_JATKOKASITELTY IS NULL))"},
                      DialectCase{"TYA_LOPPUKLO<'1900-1-1'", "TYA_LOPPUKLO<'1900-01-01'"},
                      DialectCase{"X>'2026-3-7 8:05'", "X>'2026-03-07 08:05:00'"},
                      // Other literals, and ROWNUM inside a literal, stay as they are.
                      DialectCase{"SELECT 'ROWNUM<3', '1-1-2000', '2000-1-1x' FROM T",
                                  "SELECT 'ROWNUM<3', '1-1-2000', '2000-1-1x' FROM T"},
                      DialectCase{"SELECT NOW(), Now() FROM T", "SELECT NOW(), Now() FROM T"}));

TEST(SqliteTranslateTest, RefusesRownumItCannotExpress)
{
    for (const char* sql : {"SELECT ROWNUM, A FROM T", "SELECT * FROM (SELECT A FROM T WHERE ROWNUM<5) X",
                            "SELECT * FROM T WHERE ROWNUM>1"}) {
        EXPECT_THROW(translate(QString::fromUtf8(sql)), krp::db::Error) << sql;
    }
}

}  // namespace
