#include "protocol/TableObject.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace krp;
using namespace krp::protocol;

namespace {

TEST(TableObject, WritesColumnsAndRowsOfEveryType)
{
    db::ResultSet rs;
    rs.columns = {{"TP_TUOTEKOODI", db::ColumnType::Text}, {"TV_MAARA", db::ColumnType::Integer},
                  {"TV_HINTA", db::ColumnType::Float},     {"TYA_ALKUKLO", db::ColumnType::DateTime},
                  {"VALMIS", db::ColumnType::Boolean},     {"KUVA", db::ColumnType::Binary}};
    rs.rows.push_back({QString::fromUtf8("ÄÖ-1 \"x\""), std::int64_t{-9007199254740993}, 12.5,
                       QDateTime(QDate(2024, 3, 5), QTime(13, 45, 12, 999)), std::int64_t{1},
                       QByteArray("\x00\xFF\x10", 3)});
    rs.rows.push_back(
        {db::Null{}, db::Null{}, 0.1 + 0.2, QDateTime(QDate(1899, 12, 30), QTime(0, 0)), std::int64_t{0}, db::Null{}});
    rs.rows.push_back({QString(), std::int64_t{0}, 1.0 / 3.0, QDateTime(), db::Null{}, QByteArray()});

    EXPECT_EQ(tableJson(rs),
              R"({"columns":[{"name":"TP_TUOTEKOODI","type":"text"},{"name":"TV_MAARA","type":"integer"},)"
              R"({"name":"TV_HINTA","type":"float"},{"name":"TYA_ALKUKLO","type":"datetime"},)"
              R"({"name":"VALMIS","type":"boolean"},{"name":"KUVA","type":"binary"}],)"
              R"("rows":[["ÄÖ-1 \"x\"",-9007199254740993,12.5,"2024-03-05T13:45:12",true,"AP8Q"],)"
              R"([null,null,0.3,"1899-12-30T00:00:00",false,null],)"
              R"(["",0,0.333333333333333,null,null,""]]})");
}

TEST(TableObject, NoColumnsAndNoRowsIsTheEmptyTable)
{
    EXPECT_EQ(tableJson(db::ResultSet{}), R"({"columns":[],"rows":[]})");
}

TEST(TableObject, FloatsJsonCannotCarryBecomeNull)
{
    db::ResultSet rs;
    rs.columns = {{"A", db::ColumnType::Float}, {"B", db::ColumnType::Float}};
    rs.rows.push_back({std::nan(""), -INFINITY});
    EXPECT_EQ(tableJson(rs), R"({"columns":[{"name":"A","type":"float"},{"name":"B","type":"float"}],)"
                             R"("rows":[[null,null]]})");
}

}  // namespace
