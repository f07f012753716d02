// Table objects from real queries on an SQLite database file, directly and as the dataset
// result of a published method.
#include "db/Query.h"
#include "protocol/MethodRegistry.h"
#include "protocol/TableObject.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace krp;
using namespace krp::protocol;

namespace {

class QueryTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("tyomaaraykset.db");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        db::ConnectionSettings settings;
        settings.kind = db::ConnectionSettings::Kind::Sqlite;
        settings.sqlitePath = path;
        database.open(settings);

        db::Query ddl(database);
        ddl.setSql({"CREATE TABLE MAARPER (MP_NRO INTEGER, MP_REKNRO VARCHAR(20), MP_SUMMA REAL,",
                    "  MP_PVM DATETIME, MP_VALMIS BOOLEAN, MP_KUVA BLOB)"});
        ddl.execute();
        db::Query insert(database);
        insert.setSql({"INSERT INTO MAARPER VALUES (:nro, :reknro, :summa, :pvm, :valmis, :kuva)"});
        insert.param("nro").setInteger(1001);
        insert.param("reknro").setText(QString::fromUtf8("ÄBC-123"));
        insert.param("summa").setFloat(193.31);
        insert.param("pvm").setDateTime(QDateTime(QDate(2024, 3, 5), QTime(13, 45, 12, 500)));
        insert.param("valmis").setInteger(1);
        insert.param("kuva").setNull();
        insert.execute();
        insert.param("nro").setInteger(1002);
        insert.param("reknro").setNull();
        insert.param("summa").setFloat(0.1);
        insert.param("pvm").setNull();
        insert.param("valmis").setInteger(0);
        insert.execute();
    }

    QTemporaryDir dir;
    db::Database database;
};

constexpr const char* kTwoWorkOrders =
    R"({"columns":[{"name":"MP_NRO","type":"integer"},{"name":"MP_REKNRO","type":"text"},)"
    R"({"name":"MP_SUMMA","type":"float"},{"name":"MP_PVM","type":"datetime"},)"
    R"({"name":"MP_VALMIS","type":"boolean"},{"name":"MP_KUVA","type":"binary"}],)"
    R"("rows":[[1001,"ÄBC-123",193.31,"2024-03-05T13:45:12",true,null],)"
    R"([1002,null,0.1,null,false,null]]})";

TEST_F(QueryTable, WritesTheRowsAnOpenQueryHolds)
{
    db::Query q(database);
    q.setSql({"SELECT MP_NRO, MP_REKNRO, MP_SUMMA, MP_PVM, MP_VALMIS, MP_KUVA FROM MAARPER ORDER BY MP_NRO"});
    q.open();
    EXPECT_EQ(queryTableJson(q), kTwoWorkOrders);
}

TEST_F(QueryTable, AQueryThatIsNotOpenGivesTheEmptyTable)
{
    db::Query q(database);
    EXPECT_EQ(queryTableJson(q), R"({"columns":[],"rows":[]})");
    q.setSql({"SELECT MP_NRO FROM MAARPER"});
    q.open();
    q.close();
    EXPECT_EQ(queryTableJson(q), R"({"columns":[],"rows":[]})");
}

// A module whose method leaves its query open and returns it, as a dataset result does.
struct HakuModule {
    explicit HakuModule(db::Database& db) : sqlHaku(db) {}
    db::Query* Haku(std::int32_t nro)
    {
        if (nro < 0)
            return nullptr;
        sqlHaku.setSql({"SELECT * FROM MAARPER WHERE MP_NRO >= :nro ORDER BY MP_NRO"});
        sqlHaku.param("nro").setInteger(nro);
        sqlHaku.open();
        return &sqlHaku;
    }
    db::Query sqlHaku;
};

TEST_F(QueryTable, DatasetResultIsTheTableOfTheReturnedQuery)
{
    MethodRegistry<HakuModule> registry;
    registry.add("Haku", &HakuModule::Haku, {"nro"});
    HakuModule module(database);

    CallResult r = registry.call(module, "Haku", "[0]");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, std::string(R"({"result":)") + kTwoWorkOrders + "}");

    r = registry.call(module, "Haku", "[1002]");
    EXPECT_NE(r.body.find("1002"), std::string::npos);
    EXPECT_EQ(r.body.find("1001"), std::string::npos);

    EXPECT_EQ(registry.call(module, "Haku", "[-1]").body, R"({"result":null})");
}

}  // namespace
