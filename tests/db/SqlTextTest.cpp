#include "db/SqlText.h"

#include <gtest/gtest.h>

using krp::db::splitScript;
using krp::db::toPositional;

namespace {

struct PositionalCase {
    const char* sql;
    const char* text;
    QStringList occurrences;
    QStringList names;
};

class ToPositionalTest : public ::testing::TestWithParam<PositionalCase> {};

TEST_P(ToPositionalTest, ReplacesEachOccurrenceOutsideLiterals)
{
    const PositionalCase& c = GetParam();
    const auto p = toPositional(QString::fromUtf8(c.sql));
    EXPECT_EQ(p.text, QString::fromUtf8(c.text));
    EXPECT_EQ(p.occurrences, c.occurrences);
    EXPECT_EQ(p.names, c.names);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToPositionalTest,
                         ::testing::Values(
                             // A name used twice is one parameter bound at both places.
                             PositionalCase{"WHERE ((:tn=0) OR (TP_TOIMITTAJANRO=:tn)) AND TP_EANKOODI=:koodi",
                                            "WHERE ((?=0) OR (TP_TOIMITTAJANRO=?)) AND TP_EANKOODI=?",
                                            {"TN", "TN", "KOODI"},
                                            {"tn", "koodi"}},
                             // Names match without regard to case; the first spelling is kept.
                             PositionalCase{"A=:Nro AND B=:NRO", "A=? AND B=?", {"NRO", "NRO"}, {"Nro"}},
                             // Blanks and commas end a name.
                             PositionalCase{"(:id,:ostotilausnro ,:tila)",
                                            "(?,? ,?)",
                                            {"ID", "OSTOTILAUSNRO", "TILA"},
                                            {"id", "ostotilausnro", "tila"}},
                             // Colons inside literals, quoted names and comments are text.
                             PositionalCase{"SELECT '12:30:00', \"a:b\" FROM T -- :x\nWHERE A=:a /* :y */",
                                            "SELECT '12:30:00', \"a:b\" FROM T -- :x\nWHERE A=? /* :y */",
                                            {"A"},
                                            {"a"}},
                             // A doubled quote stays inside its literal.
                             PositionalCase{"SELECT 'it''s :no' || :yes", "SELECT 'it''s :no' || ?", {"YES"}, {"yes"}},
                             // '::' and a colon before a non-letter are no parameters.
                             PositionalCase{
                                 "SELECT a::int, b := 1, :_x1", "SELECT a::int, b := 1, ?", {"_X1"}, {"_x1"}},
                             // Finnish letters belong to a name.
                             PositionalCase{"VALUES (:määrä)", "VALUES (?)", {"MÄÄRÄ"}, {"määrä"}},
                             PositionalCase{"SELECT 1", "SELECT 1", {}, {}}));

TEST(SplitScriptTest, SplitsAtSemicolonsOutsideLiteralsAndDropsComments)
{
    const QString script = QStringLiteral(
        "-- header comment; with a semicolon\n"
        "CREATE TABLE A (X VARCHAR(10));\n"
        "INSERT INTO A VALUES ('a;b');  -- trailing\n"
        "/* block; */\n"
        "INSERT INTO A VALUES ('c')\n");
    EXPECT_EQ(splitScript(script), (QStringList{"CREATE TABLE A (X VARCHAR(10))", "INSERT INTO A VALUES ('a;b')",
                                                "INSERT INTO A VALUES ('c')"}));
}

}  // namespace
