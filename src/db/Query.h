#pragma once
// A query object: the statement is a list of lines (joined with line breaks), parameters are
// bound by name (":name"; a name used twice is one parameter), and open reads every row at
// once, so the connection is free again when open returns. Fields are read by name from the
// current row. This is the one way the program talks to the database.
#include "Database.h"
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
// zero date-time 1899-12-30 00:00).
class Field {
public:
    Field(const Value& v, const QString& name) : v_(v), name_(name) {}
    bool isNull() const { return krp::db::isNull(v_); }
    QString asText() const;
    std::int64_t asInteger() const;  // a text that is not an integer throws Error
    double asFloat() const;
    QDateTime asDateTime() const;
    const Value& value() const { return v_; }

private:
    const Value& v_;
    QString name_;
};

class Param {
public:
    void setText(const QString& v) { value = v; }
    void setInteger(std::int64_t v) { value = v; }
    void setFloat(double v) { value = v; }
    void setDateTime(const QDateTime& v) { value = v; }
    void setNull() { value = Null{}; }
    Value value = Null{};
    bool bound = false;
};

class Query {
public:
    explicit Query(Database& db);
    ~Query();

    // Statement text.
    void clearSql();                       // also closes the query and forgets parameters
    void addLine(const QString& line);     // also closes the query
    void setSql(const QStringList& lines); // clearSql + addLine for each
    const QStringList& sql() const { return lines_; }
    QString sqlText() const { return lines_.join(QLatin1Char('\n')); }

    // Parameters by name (without the colon), case-insensitive. Unknown names throw Error.
    Param& param(const QString& name);
    Param& paramByName(const QString& name) { return param(name); }

    void open();     // runs the statement and reads all rows; the first row becomes current
    long long execute();  // runs a statement without rows; returns rows affected
    void close();    // forgets the rows; SQL and parameter values stay
    bool isOpen() const { return open_; }

    // Cursor over the rows read by open.
    bool isEmpty() const { return result_.rows.empty(); }
    int recordCount() const { return static_cast<int>(result_.rows.size()); }
    bool eof() const { return !open_ || current_ >= result_.rows.size(); }
    void first() { current_ = 0; }
    void next() { if (current_ < result_.rows.size()) ++current_; }
    Field fieldByName(const QString& name) const;  // of the current row; unknown name throws
    Field field(int index) const;                  // by column position

    const ResultSet& result() const { return result_; }

private:
    Database& db_;
    QStringList lines_;
    std::vector<std::pair<QString, Param>> params_;  // in order of first appearance
    ResultSet result_;
    std::size_t current_ = 0;
    bool open_ = false;
    void parseParams();
};

}  // namespace krp::db
