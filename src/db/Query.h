#pragma once
// A query object: the statement is a list of lines (joined with line breaks), parameters are
// bound by name (":name"; a name used twice is one parameter), and open reads every row at
// once, so the connection is free again when open returns. Fields are read by name from the
// current row. This is the one way the program talks to the database.
#include "Database.h"
#include "SqlText.h"
#include "Value.h"
#include <QStringList>
#include <vector>

namespace krp::db {

struct Column {
    QString name;
    ColumnType type = ColumnType::Text;
};

// Rows of an opened statement, in the statement's column and row order.
struct ResultSet {
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
    int indexOf(const QString& name) const;  // case-insensitive; -1 when absent
};

// One field of the current row, with Delphi-like conversions (null reads as 0, "" or the
// zero date-time 1899-12-30 00:00). A field of a query positioned after its last row (or of
// one without rows) reads as null.
class Field {
public:
    Field(const Value& v, const QString& name) : v_(v), name_(name) {}
    bool isNull() const { return krp::db::isNull(v_); }
    // Integers in decimal, reals with up to 15 significant digits and '.', date-times as
    // "YYYY-MM-DD HH:MM:SS".
    QString asText() const;
    // Reals round to the nearest integer, an exact half to the even one; a text must hold an
    // integer. Anything else throws Error.
    std::int64_t asInteger() const;
    double asFloat() const;        // a text must hold a number ('.' or ',' as separator)
    QDateTime asDateTime() const;  // numbers count days from 1899-12-30 as TDateTime does
    const Value& value() const { return v_; }
    const QString& name() const { return name_; }

private:
    const Value& v_;
    QString name_;
};

// The zero date-time: 1899-12-30 00:00:00, local time.
QDateTime zeroDateTime();

class Param {
public:
    void setText(const QString& v) { value = v, bound = true; }
    void setInteger(std::int64_t v) { value = v, bound = true; }
    void setFloat(double v) { value = v, bound = true; }
    void setDateTime(const QDateTime& v) { value = v, bound = true; }
    void setNull() { value = Null{}, bound = true; }
    Value value = Null{};
    bool bound = false;  // a parameter that was never set refuses to run the statement
};

class Query {
public:
    explicit Query(Database& db);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Statement text. Parameters that the new text still names keep their values.
    void clearSql();                        // also closes the query and forgets parameters
    void addLine(const QString& line);      // also closes the query
    void setSql(const QStringList& lines);  // clearSql + addLine for each
    const QStringList& sql() const { return lines_; }
    QString sqlText() const { return lines_.join(QLatin1Char('\n')); }

    // Parameters by name (without the colon), case-insensitive. Unknown names throw Error.
    Param& param(const QString& name);
    Param& paramByName(const QString& name) { return param(name); }
    QStringList paramNames() const;  // in order of first appearance

    // Runs the statement and reads all rows; the first row becomes current. A statement
    // without a result opens with no columns and no rows.
    void open();
    long long execute();  // runs a statement without rows; returns rows affected
    void close();         // forgets the rows; SQL and parameter values stay
    bool isOpen() const { return open_; }

    // Cursor over the rows read by open.
    bool isEmpty() const { return result_.rows.empty(); }
    int recordCount() const { return static_cast<int>(result_.rows.size()); }
    bool eof() const { return !open_ || current_ >= result_.rows.size(); }
    void first() { current_ = 0; }
    void next()
    {
        if (current_ < result_.rows.size())
            ++current_;
    }
    // Of the current row. Throws Error when the query is not open or has no such column.
    Field fieldByName(const QString& name) const;
    Field field(int index) const;  // by column position

    const ResultSet& result() const { return result_; }

private:
    Database& db_;
    QStringList lines_;
    // Parsed from lines_ when first needed (parsed_ false: not yet).
    mutable std::vector<std::pair<QString, Param>> params_;  // in order of first appearance
    mutable PositionalStatement statement_;
    mutable bool parsed_ = true;
    ResultSet result_;
    std::size_t current_ = 0;
    bool open_ = false;
    void parseParams() const;
    std::vector<Value> boundValues() const;
};

}  // namespace krp::db
