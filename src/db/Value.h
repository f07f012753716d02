#pragma once
// A database value as the query objects bind and read it: null, integer, real, text,
// date-time (naive local time, no zone) or binary. Text is Unicode here; the connection
// decides how it travels (UTF-8, or the ANSI code page toward the solidDB drivers).
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <variant>

namespace krp::db {

struct Null {
    bool operator==(const Null&) const = default;
};

using Value = std::variant<Null, std::int64_t, double, QString, QDateTime, QByteArray>;

// Column types of a result, as the table object of the wire protocol names them.
enum class ColumnType { Text, Integer, Float, DateTime, Boolean, Binary };

inline bool isNull(const Value& v)
{
    return std::holds_alternative<Null>(v);
}

}  // namespace krp::db
