#include "db/Query.h"

#include "db/Connection.h"
#include "metrics/Metrics.h"

#include <mutex>
#include <unordered_map>

namespace krp::db {
namespace {

const Value kNullValue = Null{};

// Statement texts parsed once per process. Every session's module runs the same few texts; the
// parsed forms handed out share their text with this table, so a session's fixed statements
// cost it no copy of their own. Texts beyond the bound (statements with values written into
// them) start the table afresh.
PositionalStatement parsedOnce(const QString& sql)
{
    constexpr std::size_t bound = 512;
    static std::mutex mutex;
    static std::unordered_map<QString, PositionalStatement> parsed;
    {
        const std::lock_guard lock(mutex);
        if (const auto it = parsed.find(sql); it != parsed.end())
            return it->second;
    }
    PositionalStatement statement = toPositional(sql);
    const std::lock_guard lock(mutex);
    if (parsed.size() >= bound)
        parsed.clear();
    parsed.emplace(sql, statement);
    return statement;
}

}  // namespace

int ResultSet::indexOf(const QString& name) const
{
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

Query::Query(Database& db) : db_(db) {}

Query::~Query() = default;

void Query::clearSql()
{
    close();
    lines_.clear();
    params_.clear();
    statement_ = {};
    parsed_ = true;
}

// A statement written line by line is parsed once, when it is first bound or run.
void Query::addLine(const QString& line)
{
    close();
    lines_.append(line);
    parsed_ = false;
}

void Query::setSql(const QStringList& lines)
{
    clearSql();
    lines_ = lines;
    parsed_ = false;
}

void Query::parseParams() const
{
    if (parsed_)
        return;
    parsed_ = true;
    statement_ = parsedOnce(sqlText());
    std::vector<std::pair<QString, Param>> params;
    for (const QString& name : statement_.names) {
        auto old = std::find_if(params_.begin(), params_.end(),
                                [&](const auto& p) { return p.first.compare(name, Qt::CaseInsensitive) == 0; });
        params.emplace_back(name, old != params_.end() ? old->second : Param{});
    }
    params_ = std::move(params);
}

Param& Query::param(const QString& name)
{
    parseParams();
    for (auto& [n, p] : params_) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return p;
    }
    throw Error("The statement has no parameter '" + name.toStdString() + "'");
}

QStringList Query::paramNames() const
{
    parseParams();
    QStringList names;
    for (const auto& p : params_)
        names.append(p.first);
    return names;
}

std::vector<Value> Query::boundValues() const
{
    parseParams();
    if (statement_.text.trimmed().isEmpty())
        throw Error("The query has no statement");
    std::vector<Value> values;
    values.reserve(static_cast<std::size_t>(statement_.occurrences.size()));
    for (const QString& upper : statement_.occurrences) {
        auto p = std::find_if(params_.begin(), params_.end(),
                              [&](const auto& x) { return x.first.compare(upper, Qt::CaseInsensitive) == 0; });
        if (!p->second.bound)
            throw Error("Parameter '" + p->first.toStdString() + "' has no value");
        values.push_back(p->second.value);
    }
    return values;
}

void Query::open()
{
    close();
    const std::vector<Value> values = boundValues();
    const metrics::StatementScope counted;
    StatementOutcome outcome = db_.runStatement(statement_.text, values);
    result_ = std::move(outcome.rows);
    current_ = 0;
    open_ = true;
}

long long Query::execute()
{
    close();
    const std::vector<Value> values = boundValues();
    const metrics::StatementScope counted;
    return db_.runStatement(statement_.text, values).rowsAffected;
}

void Query::close()
{
    result_ = {};
    current_ = 0;
    open_ = false;
}

Field Query::fieldByName(const QString& name) const
{
    if (!open_)
        throw Error("The query is not open; field '" + name.toStdString() + "' cannot be read");
    const int index = result_.indexOf(name);
    if (index < 0)
        throw Error("Field '" + name.toStdString() + "' not found");
    if (eof())
        return Field(kNullValue, result_.columns[static_cast<std::size_t>(index)].name);
    return Field(result_.rows[current_][static_cast<std::size_t>(index)],
                 result_.columns[static_cast<std::size_t>(index)].name);
}

Field Query::field(int index) const
{
    if (!open_)
        throw Error("The query is not open; its fields cannot be read");
    if (index < 0 || static_cast<std::size_t>(index) >= result_.columns.size())
        throw Error("Field number " + std::to_string(index) + " not found");
    const auto i = static_cast<std::size_t>(index);
    if (eof())
        return Field(kNullValue, result_.columns[i].name);
    return Field(result_.rows[current_][i], result_.columns[i].name);
}

}  // namespace krp::db
