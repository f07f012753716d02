// Connections to the embedded SQLite database file. SOCI opens the file and owns the session;
// statements run on its native handle so that each value keeps its own storage class and the
// declared column types are known (SOCI's row only reports the first row's type for columns
// without a declared type).
#include "db/Connection.h"
#include "db/SociSqlite.h"
#include "db/SqliteDialect.h"
#include "db/SqliteFileAccess.h"

#include <QFileInfo>
#include <soci/session.h>
#include <soci/soci-backend.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <thread>
#include <unordered_map>
#include <utility>

namespace krp::db {
namespace {

using Clock = std::chrono::steady_clock;

std::string sqlStateOf(int extendedCode)
{
    switch (extendedCode & 0xff) {
    case SQLITE_CONSTRAINT: return "23000";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_INTERRUPT: return "HYT00";  // waited or ran until the statement's deadline
    default: return "HY000";
    }
}

// Column type from a declared type, by SQLite's own affinity rules, with date-times and
// booleans told apart by name. Empty for an expression column.
std::optional<ColumnType> declaredType(const char* decl)
{
    if (!decl)
        return std::nullopt;
    const QString t = QString::fromUtf8(decl).toUpper();
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME")))
        return ColumnType::DateTime;
    if (t.contains(QLatin1String("BOOL")))
        return ColumnType::Boolean;
    if (t.contains(QLatin1String("INT")))
        return ColumnType::Integer;
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("TEXT")))
        return ColumnType::Text;
    if (t.contains(QLatin1String("BLOB")) || t.isEmpty())
        return ColumnType::Binary;
    return ColumnType::Float;  // REAL, FLOAT, DOUBLE, NUMERIC, DECIMAL
}

// An expression column takes the type of its values: numbers when every value is a number
// (or null, as SUM of no rows is), otherwise text or binary.
ColumnType typeOfValues(const std::vector<std::vector<Value>>& rows, std::size_t column)
{
    bool anyFloat = false;
    for (const auto& row : rows) {
        const Value& v = row[column];
        if (std::holds_alternative<QString>(v))
            return ColumnType::Text;
        if (std::holds_alternative<QByteArray>(v))
            return ColumnType::Binary;
        if (std::holds_alternative<double>(v))
            anyFloat = true;
    }
    if (anyFloat)
        return ColumnType::Float;
    for (const auto& row : rows) {
        if (std::holds_alternative<std::int64_t>(row[column]))
            return ColumnType::Integer;
    }
    return ColumnType::Float;  // only nulls: an aggregate over no rows
}

Value readValue(sqlite3_stmt* st, int i)
{
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER: return static_cast<std::int64_t>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: return sqlite3_column_double(st, i);
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return QString::fromUtf8(p, sqlite3_column_bytes(st, i));
    }
    case SQLITE_BLOB: {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
        return QByteArray(p, sqlite3_column_bytes(st, i));
    }
    default: return Null{};
    }
}

// Values of a date-time column stored as text become date-times; text that is no date-time
// stays text.
Value asDateTime(const Value& v)
{
    const auto* text = std::get_if<QString>(&v);
    if (!text)
        return v;
    for (const char* format :
         {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        const QDateTime dt = QDateTime::fromString(*text, QLatin1String(format));
        if (dt.isValid())
            return dt;
    }
    return v;
}

// The statements a connection has prepared, by their text as the caller gave it, so that the
// same statement on the same connection is translated and prepared once. The least recently
// used goes when kCapacity are kept (statements whose text carries values vary).
class PreparedStatements {
public:
    PreparedStatements() = default;
    PreparedStatements(const PreparedStatements&) = delete;
    PreparedStatements& operator=(const PreparedStatements&) = delete;
    ~PreparedStatements() { clear(); }

    sqlite3_stmt* find(const QString& sql)
    {
        const auto it = byText_.find(sql);
        if (it == byText_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->second;
    }

    void keep(const QString& sql, sqlite3_stmt* st)
    {
        if (order_.size() >= kCapacity) {
            sqlite3_finalize(order_.back().second);
            byText_.erase(order_.back().first);
            order_.pop_back();
        }
        order_.emplace_front(sql, st);
        byText_.emplace(sql, order_.begin());
    }

    void clear()
    {
        for (auto& [sql, st] : order_)
            sqlite3_finalize(st);
        order_.clear();
        byText_.clear();
    }

private:
    static constexpr std::size_t kCapacity = 128;
    using Entry = std::pair<QString, sqlite3_stmt*>;
    std::list<Entry> order_;
    std::unordered_map<QString, std::list<Entry>::iterator> byText_;
};

class SqliteConnection final : public Connection {
public:
    explicit SqliteConnection(const ConnectionSettings& settings) : settings_(settings) { open(); }

    ~SqliteConnection() override { statements_.clear(); }  // before the file closes

    StatementOutcome run(const QString& sql, const std::vector<Value>& params) override
    {
        sqlite3* db = handle();
        startDeadline(settings_.limits.statementSeconds);
        sqlite3_stmt* st = statements_.find(sql);
        if (!st) {
            const QByteArray text = sqlite::translate(sql).toUtf8();
            if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &st, nullptr) != SQLITE_OK)
                fail(db);
            if (!st)
                return {};  // only blanks or comments
            statements_.keep(sql, st);
        }
        // Whatever happens below, the statement is left reset: it holds no read lock between
        // calls, and its bound values do not outlive the call.
        struct Reset {
            sqlite3_stmt* st;
            ~Reset()
            {
                sqlite3_reset(st);
                sqlite3_clear_bindings(st);
            }
        } reset{st};
        if (sqlite3_bind_parameter_count(st) != static_cast<int>(params.size()))
            throw Error("The statement has " + std::to_string(sqlite3_bind_parameter_count(st)) +
                        " parameter markers but " + std::to_string(params.size()) + " values");
        for (std::size_t i = 0; i < params.size(); ++i)
            bind(db, st, static_cast<int>(i) + 1, params[i]);

        StatementOutcome out;
        // The columns are read after the first step: a kept statement whose tables changed is
        // prepared again by that step, and only then are its columns those of the tables now.
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            fail(db);
        const int columns = sqlite3_column_count(st);
        std::vector<std::optional<ColumnType>> declared;
        for (int c = 0; c < columns; ++c) {
            out.rows.columns.push_back({QString::fromUtf8(sqlite3_column_name(st, c)), ColumnType::Text});
            declared.push_back(declaredType(sqlite3_column_decltype(st, c)));
        }
        for (; rc != SQLITE_DONE; rc = sqlite3_step(st)) {
            if (rc != SQLITE_ROW)
                fail(db);
            std::vector<Value> row;
            row.reserve(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                Value v = readValue(st, c);
                if (declared[static_cast<std::size_t>(c)] == ColumnType::DateTime)
                    v = asDateTime(v);
                row.push_back(std::move(v));
            }
            out.rows.rows.push_back(std::move(row));
        }
        for (int c = 0; c < columns; ++c) {
            const auto i = static_cast<std::size_t>(c);
            out.rows.columns[i].type = declared[i] ? *declared[i] : typeOfValues(out.rows.rows, i);
        }
        if (columns == 0)
            out.rowsAffected = sqlite3_changes64(db);
        return out;
    }

    void begin() override { plain("BEGIN IMMEDIATE"); }
    void commit() override { plain("COMMIT"); }
    void rollback() override
    {
        if (sqlite3_get_autocommit(handle()) == 0)
            plain("ROLLBACK");
    }
    bool alive() override { return session_ && nativeSqliteHandle(*session_); }
    bool inAutoCommit() override { return sqlite3_get_autocommit(handle()) != 0; }

    void reconnect() override
    {
        statements_.clear();
        session_.reset();
        open();
        broken_ = false;
    }

    void breakLink() override
    {
        statements_.clear();
        session_->close();
    }

private:
    void open()
    {
        const QString& path = settings_.sqlitePath;
        if (path.isEmpty())
            throw Error("The SQLite database file is not named (sqlite:PATH)");
        if (!QFileInfo(path).isFile())
            throw Error("SQLite database file not found: " + path.toStdString());
        const std::string params = "db=\"" + path.toStdString() + "\"";
        try {
            session_ = openSqliteSession(params);
        } catch (const soci::soci_error& e) {
            throw Error(e.get_error_message() + ": " + path.toStdString(), "08001");
        }
        sqlite3* db = handle();
        sqlite3_extended_result_codes(db, 1);
        // One deadline per statement bounds both the wait for another writer's lock and the
        // statement's own work.
        sqlite3_busy_handler(db, &SqliteConnection::waitWhileBusy, this);
        sqlite3_progress_handler(db, kProgressSteps, &SqliteConnection::pastDeadline, this);
        startDeadline(settings_.limits.connectSeconds);
        sqlite::registerFunctions(db);
        if (journalMode() != "wal")
            plain("PRAGMA journal_mode=WAL");  // once per file: the mode is kept in the file
        plain("PRAGMA case_sensitive_like=ON");
        plain(kSqliteMemoryMapPragma);
    }

    std::string journalMode()
    {
        std::string mode;
        char* message = nullptr;
        sqlite3_exec(
            handle(), "PRAGMA journal_mode",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "";
                return 0;
            },
            &mode, &message);
        sqlite3_free(message);
        return mode;
    }

    sqlite3* handle()
    {
        sqlite3* db = session_ ? nativeSqliteHandle(*session_) : nullptr;
        if (!db) {
            broken_ = true;
            throw Error("The link to the SQLite database is closed", "08003");
        }
        return db;
    }

    void startDeadline(int seconds)
    {
        deadline_ = seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
    }

    // Busy handler: waits a little and tries again until the deadline.
    static int waitWhileBusy(void* self, int attempts)
    {
        const auto deadline = static_cast<SqliteConnection*>(self)->deadline_;
        const auto now = Clock::now();
        if (now >= deadline)
            return 0;
        const auto pause = std::chrono::milliseconds(std::min(50, 1 + attempts * 5));
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        return 1;
    }

    // Progress handler: a nonzero answer interrupts the statement.
    static int pastDeadline(void* self)
    {
        return Clock::now() >= static_cast<SqliteConnection*>(self)->deadline_ ? 1 : 0;
    }

    void plain(const char* sql)
    {
        sqlite3* db = handle();
        startDeadline(settings_.limits.statementSeconds);
        char* message = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : sqlite3_errmsg(db);
            sqlite3_free(message);
            throw Error(text, sqlStateOf(sqlite3_extended_errcode(db)), sqlite3_extended_errcode(db));
        }
    }

    [[noreturn]] void fail(sqlite3* db)
    {
        const int code = sqlite3_extended_errcode(db);
        throw Error(sqlite3_errmsg(db), sqlStateOf(code), code);
    }

    void bind(sqlite3* db, sqlite3_stmt* st, int index, const Value& value)
    {
        int rc = SQLITE_OK;
        if (const auto* i = std::get_if<std::int64_t>(&value)) {
            rc = sqlite3_bind_int64(st, index, *i);
        } else if (const auto* d = std::get_if<double>(&value)) {
            rc = sqlite3_bind_double(st, index, *d);
        } else if (const auto* s = std::get_if<QString>(&value)) {
            const QByteArray utf8 = s->toUtf8();
            rc = sqlite3_bind_text64(st, index, utf8.constData(), static_cast<sqlite3_uint64>(utf8.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
        } else if (const auto* t = std::get_if<QDateTime>(&value); t && t->isValid()) {
            const QByteArray text = t->toString(QLatin1String(sqlite::kDateTimeFormat)).toUtf8();
            rc = sqlite3_bind_text(st, index, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        } else if (const auto* b = std::get_if<QByteArray>(&value)) {
            rc = sqlite3_bind_blob64(st, index, b->constData(), static_cast<sqlite3_uint64>(b->size()),
                                     SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_null(st, index);
        }
        if (rc != SQLITE_OK)
            fail(db);
    }

    static constexpr int kProgressSteps = 1000;  // virtual machine steps between checks

    ConnectionSettings settings_;
    std::unique_ptr<soci::session> session_;
    PreparedStatements statements_;
    Clock::time_point deadline_ = Clock::time_point::max();
};

}  // namespace

std::unique_ptr<Connection> connectSqlite(const ConnectionSettings& settings)
{
    return std::make_unique<SqliteConnection>(settings);
}

}  // namespace krp::db
