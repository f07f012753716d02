#include "TableObject.h"

#include "types/NumberText.h"

#include <cstdio>
#include <type_traits>

namespace krp::protocol {

namespace {

void writeText(types::JsonWriter& w, const QByteArray& utf8)
{
    w.String(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
}

void writeDateTime(types::JsonWriter& w, const QDateTime& value)
{
    if (!value.isValid()) {
        w.Null();
        return;
    }
    const QDate d = value.date();
    const QTime t = value.time();
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", d.year(), d.month(), d.day(),
                                t.hour(), t.minute(), t.second());
    w.String(text, static_cast<rapidjson::SizeType>(n));
}

void writeCell(types::JsonWriter& w, const db::Value& value, db::ColumnType type)
{
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, db::Null>) {
                w.Null();
            } else if constexpr (std::is_same_v<V, std::int64_t>) {
                if (type == db::ColumnType::Boolean)
                    w.Bool(v != 0);
                else
                    w.Int64(v);
            } else if constexpr (std::is_same_v<V, double>) {
                if (type == db::ColumnType::Boolean) {
                    w.Bool(v != 0);
                } else if (const auto text = types::generalNumberText(v)) {
                    w.RawValue(text->data(), text->size(), rapidjson::kNumberType);
                } else {
                    w.Null();
                }
            } else if constexpr (std::is_same_v<V, QString>) {
                writeText(w, v.toUtf8());
            } else if constexpr (std::is_same_v<V, QDateTime>) {
                writeDateTime(w, v);
            } else if constexpr (std::is_same_v<V, QByteArray>) {
                writeText(w, v.toBase64());
            }
        },
        value);
}

}  // namespace

const char* columnTypeName(db::ColumnType type)
{
    switch (type) {
    case db::ColumnType::Text: return "text";
    case db::ColumnType::Integer: return "integer";
    case db::ColumnType::Float: return "float";
    case db::ColumnType::DateTime: return "datetime";
    case db::ColumnType::Boolean: return "boolean";
    case db::ColumnType::Binary: return "binary";
    }
    return "text";
}

void writeTable(types::JsonWriter& w, const db::ResultSet& rows)
{
    w.StartObject();
    w.Key("columns");
    w.StartArray();
    for (const db::Column& column : rows.columns) {
        w.StartObject();
        w.Key("name");
        writeText(w, column.name.toUtf8());
        w.Key("type");
        w.String(columnTypeName(column.type));
        w.EndObject();
    }
    w.EndArray();
    w.Key("rows");
    w.StartArray();
    for (const auto& row : rows.rows) {
        w.StartArray();
        for (std::size_t i = 0; i < row.size(); ++i)
            writeCell(w, row[i], i < rows.columns.size() ? rows.columns[i].type : db::ColumnType::Text);
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();
}

void writeQueryTable(types::JsonWriter& w, const db::Query& query)
{
    if (query.isOpen()) {
        writeTable(w, query.result());
    } else {
        writeTable(w, db::ResultSet{});
    }
}

std::string tableJson(const db::ResultSet& rows)
{
    rapidjson::StringBuffer buffer;
    types::JsonWriter writer(buffer);
    writeTable(writer, rows);
    return {buffer.GetString(), buffer.GetSize()};
}

std::string queryTableJson(const db::Query& query)
{
    rapidjson::StringBuffer buffer;
    types::JsonWriter writer(buffer);
    writeQueryTable(writer, query);
    return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace krp::protocol
