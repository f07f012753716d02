// The query object on both databases: binding, reading, cursor, conversions, column types.
#include "db/Query.h"
#include "support/TestDatabases.h"

#include <QRegularExpression>

using namespace krp::db;
using krp::test::Content;
using krp::test::DatabaseTest;

namespace {

class QueryTest : public DatabaseTest {
protected:
    Content content() const override { return Content::SchemaOnly; }
    void SetUp() override
    {
        DatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        testDb().execute(
            QStringLiteral("CREATE TABLE ARVOT (ID INTEGER NOT NULL, T VARCHAR(255), I INTEGER, F DOUBLE PRECISION, "
                           "D DATETIME, PRIMARY KEY (ID))"));
    }

    void insert(int id, const Value& t, const Value& i, const Value& f, const Value& d)
    {
        Query q(db());
        q.setSql({"INSERT INTO ARVOT (ID, T, I, F, D)", "VALUES (:id, :t, :i, :f, :d)"});
        q.param("id").setInteger(id);
        auto set = [&](const char* name, const Value& v) {
            Param& p = q.param(name);
            p.value = v;
            p.bound = true;
        };
        set("t", t);
        set("i", i);
        set("f", f);
        set("d", d);
        EXPECT_EQ(q.execute(), 1);
    }
};

TEST_P(QueryTest, RepeatedNameIsOneParameterBoundAtEveryOccurrence)
{
    insert(1, QString("a"), std::int64_t{7}, Null{}, Null{});
    insert(2, QString("b"), std::int64_t{8}, Null{}, Null{});
    Query q(db());
    q.addLine("SELECT T FROM ARVOT WHERE ((:tn=0) OR (I=:tn)) AND (:TN<>-1)");
    q.addLine("ORDER BY T");
    EXPECT_EQ(q.paramNames(), QStringList{"tn"});
    q.param("tn").setInteger(8);
    q.open();
    ASSERT_EQ(q.recordCount(), 1);
    EXPECT_EQ(q.fieldByName("t").asText(), "b");

    q.close();  // values stay across close: the same statement again with 0 = every row
    q.param("Tn").setInteger(0);
    q.open();
    EXPECT_EQ(q.recordCount(), 2);
}

TEST_P(QueryTest, ValuesOfEveryTypeComeBackAsBound)
{
    const QDateTime when(QDate(2026, 12, 9), QTime(14, 5, 59));
    insert(1, QStringLiteral("Jäähdytin"), std::int64_t{-2147483648LL}, 12.5, when);
    insert(2, Null{}, Null{}, Null{}, Null{});
    insert(3, QString(), std::int64_t{0}, 0.0, zeroDateTime());

    Query q(db());
    q.addLine("SELECT ID, T, I, F, D FROM ARVOT ORDER BY ID");
    q.open();
    ASSERT_EQ(q.recordCount(), 3);
    EXPECT_EQ(q.fieldByName("T").value(), Value(QStringLiteral("Jäähdytin")));
    EXPECT_EQ(q.fieldByName("I").value(), Value(std::int64_t{-2147483648LL}));
    EXPECT_EQ(q.fieldByName("F").value(), Value(12.5));
    EXPECT_EQ(q.fieldByName("D").value(), Value(when));

    q.next();
    for (const char* name : {"T", "I", "F", "D"})
        EXPECT_TRUE(q.fieldByName(name).isNull()) << name;
    EXPECT_EQ(q.fieldByName("T").asText(), "");
    EXPECT_EQ(q.fieldByName("I").asInteger(), 0);
    EXPECT_EQ(q.fieldByName("F").asFloat(), 0.0);
    EXPECT_EQ(q.fieldByName("D").asDateTime(), zeroDateTime());

    q.next();
    EXPECT_FALSE(q.fieldByName("T").isNull());  // the empty text is not null
    EXPECT_EQ(q.fieldByName("T").asText(), "");
    EXPECT_EQ(q.fieldByName("D").asDateTime(), zeroDateTime());
    q.next();
    EXPECT_TRUE(q.eof());
}

TEST_P(QueryTest, NonAsciiTextIsStoredByteExactAndNeverCutShort)
{
    const QString mixed = QString::fromUtf8("äöå ÄÖÅ € “quotes” Łódź 漢字 😀");
    const QString longText = QString(200, QChar(0x00E4)) + QString::fromUtf8("€");  // 201 characters, 403 bytes
    insert(1, mixed, Null{}, Null{}, Null{});
    insert(2, longText, Null{}, Null{}, Null{});

    Query q(db());
    q.addLine("SELECT T, HEX(T) AS H FROM ARVOT ORDER BY ID");
    q.open();
    EXPECT_EQ(q.fieldByName("T").asText(), mixed);
    EXPECT_EQ(q.fieldByName("H").asText().toLatin1(), mixed.toUtf8().toHex().toUpper());
    q.next();
    EXPECT_EQ(q.fieldByName("T").asText(), longText);

    // Bound text finds the stored text: equality works on the same bytes.
    Query find(db());
    find.addLine("SELECT ID FROM ARVOT WHERE T=:t");
    find.param("t").setText(mixed);
    find.open();
    EXPECT_EQ(find.recordCount(), 1);
}

TEST_P(QueryTest, CursorWalksTheRowsReadAtOpen)
{
    for (int id = 1; id <= 3; ++id)
        insert(id, QString::number(id * 10), std::int64_t{id}, Null{}, Null{});
    Query q(db());
    q.addLine("SELECT ID FROM ARVOT ORDER BY ID DESC");
    q.open();
    EXPECT_TRUE(q.isOpen());
    EXPECT_EQ(q.recordCount(), 3);
    QList<std::int64_t> seen;
    for (; !q.eof(); q.next())
        seen << q.fieldByName("id").asInteger();
    EXPECT_EQ(seen, (QList<std::int64_t>{3, 2, 1}));
    q.first();
    EXPECT_EQ(q.field(0).asInteger(), 3);

    // A statement without rows: fields read as null, the column is still known.
    q.clearSql();
    q.addLine("SELECT ID FROM ARVOT WHERE ID<0");
    q.open();
    EXPECT_TRUE(q.isEmpty());
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.fieldByName("ID").asInteger(), 0);
    EXPECT_THROW(q.fieldByName("NO_SUCH"), Error);

    q.close();
    EXPECT_FALSE(q.isOpen());
    EXPECT_TRUE(q.eof());
    EXPECT_THROW(q.fieldByName("ID"), Error);
}

TEST_P(QueryTest, MisusedParametersAreRefusedBeforeTheStatementRuns)
{
    Query q(db());
    q.addLine("INSERT INTO ARVOT (ID, T) VALUES (:id, :t)");
    EXPECT_THROW(q.param("nimi"), Error);
    q.param("id").setInteger(1);
    try {
        q.execute();
        FAIL() << "an unbound parameter was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'t'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(testDb().integer("SELECT COUNT(*) FROM ARVOT"), 0);
    q.param("t").setNull();
    EXPECT_EQ(q.execute(), 1);
    EXPECT_EQ(testDb().integer("SELECT COUNT(*) FROM ARVOT WHERE T IS NULL"), 1);
}

TEST_P(QueryTest, ExecuteCountsTheRowsItChanged)
{
    for (int id = 1; id <= 3; ++id)
        insert(id, QStringLiteral("x"), std::int64_t{id}, Null{}, Null{});
    Query q(db());
    q.addLine("UPDATE ARVOT SET T=:t WHERE I>=:i");
    q.param("t").setText("y");
    q.param("i").setInteger(2);
    EXPECT_EQ(q.execute(), 2);
    q.param("i").setInteger(99);
    EXPECT_EQ(q.execute(), 0);
}

TEST_P(QueryTest, FieldsConvertLikeTheErpProgramsReadThem)
{
    insert(1, QStringLiteral(" 42 "), std::int64_t{3}, 2.5, QDateTime(QDate(2026, 1, 2), QTime(12, 0)));
    insert(2, QStringLiteral("abc"), std::int64_t{0}, 3.5, Null{});
    Query q(db());
    q.addLine("SELECT T, I, F, D FROM ARVOT ORDER BY ID");
    q.open();
    EXPECT_EQ(q.fieldByName("T").asInteger(), 42);
    EXPECT_EQ(q.fieldByName("I").asText(), "3");
    EXPECT_EQ(q.fieldByName("I").asFloat(), 3.0);
    EXPECT_EQ(q.fieldByName("F").asInteger(), 2);  // halves go to the even neighbour
    EXPECT_EQ(q.fieldByName("F").asText(), "2.5");
    EXPECT_EQ(q.fieldByName("D").asText(), "2026-01-02 12:00:00");
    q.next();
    EXPECT_EQ(q.fieldByName("F").asInteger(), 4);
    EXPECT_THROW(q.fieldByName("T").asInteger(), Error);
    EXPECT_THROW(q.fieldByName("T").asFloat(), Error);
}

struct TypeCase {
    const char* sql;
    ColumnType type;
    bool anyNumber = false;  // SQLite cannot tell 0 from 0.0 in an expression without rows
};

TEST_P(QueryTest, ColumnTypesOfColumnsAndExpressions)
{
    insert(1, QStringLiteral("x"), std::int64_t{4}, 1.25, QDateTime(QDate(2026, 1, 2), QTime(12, 0)));
    for (const TypeCase& c : {
             TypeCase{"SELECT T FROM ARVOT", ColumnType::Text},
             TypeCase{"SELECT I FROM ARVOT", ColumnType::Integer},
             TypeCase{"SELECT F FROM ARVOT", ColumnType::Float},
             TypeCase{"SELECT D FROM ARVOT", ColumnType::DateTime},
             TypeCase{"SELECT COUNT(*) FROM ARVOT", ColumnType::Integer},
             TypeCase{"SELECT MAX(ID) FROM ARVOT", ColumnType::Integer},
             TypeCase{"SELECT IFNULL(MAX(I),0)+1 FROM ARVOT WHERE ID=1", ColumnType::Integer},
             TypeCase{"SELECT IFNULL(MAX(I),0)+1 FROM ARVOT WHERE ID<0", ColumnType::Integer},
             TypeCase{"SELECT SUM(F) FROM ARVOT", ColumnType::Float},
             TypeCase{"SELECT SUM(F) FROM ARVOT WHERE ID<0", ColumnType::Float},
             TypeCase{"SELECT IFNULL(SUM(F),0) FROM ARVOT WHERE ID<0", ColumnType::Float, true},
             TypeCase{"SELECT UPPER(T) FROM ARVOT", ColumnType::Text},
         }) {
        Query q(db());
        q.addLine(c.sql);
        q.open();
        ASSERT_EQ(q.result().columns.size(), 1u) << c.sql;
        const ColumnType type = q.result().columns[0].type;
        if (c.anyNumber)
            EXPECT_TRUE(type == ColumnType::Integer || type == ColumnType::Float) << c.sql;
        else
            EXPECT_EQ(static_cast<int>(type), static_cast<int>(c.type)) << c.sql;
        if (c.type == ColumnType::Integer && !q.isEmpty() && !q.field(0).isNull()) {
            EXPECT_TRUE(std::holds_alternative<std::int64_t>(q.field(0).value())) << c.sql;
        }
    }
}

TEST_P(QueryTest, ColumnNamesComeAsTheStatementGivesThem)
{
    Query q(db());
    q.setSql({"SELECT ID, T AS Nimi,", "", "I", "AVOINNA", "FROM ARVOT"});
    q.open();
    ASSERT_EQ(q.result().columns.size(), 3u);
    EXPECT_EQ(q.result().columns[1].name, "Nimi");
    EXPECT_EQ(q.result().columns[2].name, "AVOINNA");
    EXPECT_EQ(q.result().indexOf("nimi"), 1);
    EXPECT_EQ(q.result().indexOf("avoinna"), 2);
}

KRP_INSTANTIATE_ON_BACKENDS(QueryTest);

}  // namespace

namespace {

// Text toward the ERP's ANSI drivers travels in Windows-1252 both ways. MariaDB's "latin1" is
// Windows-1252, so a MariaDB connection made the solidDB way carries the same bytes.
TEST(AnsiConnectionTest, TextTravelsInTheAnsiCodePageBothWays)
{
    if (!krp::test::mariaDbConfigured())
        GTEST_SKIP() << krp::test::mariaDbSkipMessage();
    krp::test::TestDatabase utf8(krp::test::Backend::MariaDb, Content::SchemaOnly);

    QString rest = utf8.settings().odbcConnectionString;
    rest.remove(QRegularExpression(QStringLiteral("DRIVER=\\{[^}]*\\};?"), QRegularExpression::CaseInsensitiveOption));
    rest.replace(QRegularExpression(QStringLiteral("CHARSET=[^;]*"), QRegularExpression::CaseInsensitiveOption),
                 QStringLiteral("CHARSET=latin1"));
    ConnectionSettings ansi;
    ansi.kind = ConnectionSettings::Kind::SolidOdbc;
    ansi.odbcDriver = QStringLiteral("MariaDB Unicode");
    ansi.odbcAdvanced = rest;
    Database database;
    database.open(ansi);

    Query q(database);
    q.addLine("INSERT INTO ASETUS (ASETUS, ARVO) VALUES ('tm lisätilat', :arvo)");
    q.param("arvo").setText(QString::fromUtf8("\"TYÖT OK\" Åbo € Łódź"));
    q.execute();
    q.setSql({"SELECT ARVO FROM ASETUS WHERE ASETUS=:asetus"});
    q.param("asetus").setText(QString::fromUtf8("tm lisätilat"));
    q.open();
    EXPECT_EQ(q.fieldByName("ARVO").asText(), QString::fromUtf8("\"TYÖT OK\" Åbo € Lódz"));

    // Stored as the same characters that a UTF-8 connection reads.
    EXPECT_EQ(utf8.text(QString::fromUtf8("SELECT ARVO FROM ASETUS WHERE ASETUS='tm lisätilat'")),
              QString::fromUtf8("\"TYÖT OK\" Åbo € Lódz"));
}

}  // namespace
