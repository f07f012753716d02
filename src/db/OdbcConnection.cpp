// Connections through ODBC: the ERP's solidDB (ANSI drivers, text in Windows-1252) and any
// other ODBC source (text in UTF-8). SOCI connects, reconnects and switches auto-commit; the
// statements run on the connection's ODBC handle directly, because SOCI 4.0 sizes its text
// buffers by the column's length in characters and so cuts multi-byte UTF-8 text short.
#include "db/Connection.h"
#include "platform/AnsiCodePage.h"
#include "platform/core/TcpLink.h"

#include <soci/odbc/soci-odbc.h>
#include <soci/soci.h>
#include <sql.h>
#include <sqlext.h>

#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace krp::db {
namespace {

class OdbcConnection;
using Clock = std::chrono::steady_clock;

// A link that answered within this window is not asked again whether it lives before a write
// (as connection pools commonly do, e.g. HikariCP's aliveBypassWindow): one round trip less per
// write in a busy service. A link the server closed in the meantime is still seen, on its
// socket, where the socket is known (findSocket).
constexpr std::chrono::milliseconds kLivenessWindow{500};

// MariaDB's and MySQL's client: the result set has other columns than the prepared statement
// had (CR_NEW_STMT_METADATA), after its tables changed.
constexpr int kResultColumnsChanged = 2057;

// Text toward and from the driver in the connection's character set.
struct Codec {
    bool ansi = false;
    QByteArray encode(const QString& s) const { return ansi ? platform::toAnsi(s) : s.toUtf8(); }
    QString decode(const QByteArray& b) const { return ansi ? platform::fromAnsi(b) : QString::fromUtf8(b); }
    QString decode(const char* p) const { return decode(QByteArray(p)); }
};

// A failure SOCI reported, as an Error with the driver's text, SQLSTATE and native code.
Error fromSoci(const soci::odbc_soci_error& e, const Codec& codec)
{
    return Error(codec.decode(reinterpret_cast<const char*>(e.odbc_error_message())).toStdString(),
                 reinterpret_cast<const char*>(e.odbc_error_code()), e.native_error_code());
}

// The first diagnostic record of a handle, as an Error.
Error diagnostics(SQLSMALLINT type, SQLHANDLE handle, const Codec& codec, const char* fallback)
{
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(rc))
        return Error(fallback);
    const QString text = codec.decode(reinterpret_cast<const char*>(message));
    return Error(text.toStdString(), reinterpret_cast<const char*>(state), native);
}

ColumnType columnType(SQLSMALLINT sqlType, SQLSMALLINT decimalDigits)
{
    switch (sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return ColumnType::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return decimalDigits == 0 ? ColumnType::Integer : ColumnType::Float;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return ColumnType::Float;
    case SQL_BIT: return ColumnType::Boolean;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: return ColumnType::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return ColumnType::Binary;
    default: return ColumnType::Text;
    }
}

QDateTime fromTimestamp(const SQL_TIMESTAMP_STRUCT& t)
{
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

// One prepared statement of a connection, run again and again with new values. After every
// run its cursor is closed and its parameters unbound: it holds neither rows nor locks nor
// pointers into the caller's values between calls.
class Statement {
public:
    Statement(SQLHDBC dbc, const Codec& codec, int timeoutSeconds) : codec_(codec)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_)))
            throw diagnostics(SQL_HANDLE_DBC, dbc, codec_, "Allocating an ODBC statement failed");
        // The driver's own statement limit; a driver without one is bounded by the link's
        // read timeout (see connectString()).
        SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void check(SQLRETURN rc, const char* what)
    {
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            throw diagnostics(SQL_HANDLE_STMT, stmt_, codec_, what);
    }

    void prepare(const QString& sql)
    {
        text_ = codec_.encode(sql);
        check(SQLPrepare(stmt_, reinterpret_cast<SQLCHAR*>(text_.data()), static_cast<SQLINTEGER>(text_.size())),
              "Preparing the statement failed");
    }

    // Binds `params`, executes and reads the whole result; `sent` turns true once the
    // statement has been handed to the server.
    StatementOutcome run(const std::vector<Value>& params, bool& sent)
    {
        struct Settle {
            Statement& st;
            ~Settle()
            {
                SQLFreeStmt(st.stmt_, SQL_CLOSE);
                SQLFreeStmt(st.stmt_, SQL_RESET_PARAMS);
                st.buffers_.clear();
            }
        } settle{*this};
        for (std::size_t i = 0; i < params.size(); ++i)
            bind(static_cast<SQLUSMALLINT>(i + 1), params[i]);
        sent = true;
        return execute();
    }

private:
    void bind(SQLUSMALLINT index, const Value& value)
    {
        Buffer& b = buffers_.emplace_back();
        SQLSMALLINT cType = SQL_C_CHAR;
        SQLSMALLINT sqlType = SQL_VARCHAR;
        SQLULEN columnSize = 1;
        SQLPOINTER data = &b.int32;
        SQLLEN bufferLength = 0;
        b.indicator = 0;
        if (const auto* i = std::get_if<std::int64_t>(&value)) {
            if (*i >= INT32_MIN && *i <= INT32_MAX) {
                b.int32 = static_cast<SQLINTEGER>(*i);
                cType = SQL_C_SLONG, sqlType = SQL_INTEGER, columnSize = 10;
            } else {
                b.int64 = *i;
                cType = SQL_C_SBIGINT, sqlType = SQL_BIGINT, columnSize = 19, data = &b.int64;
            }
        } else if (const auto* d = std::get_if<double>(&value)) {
            b.real = *d;
            cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, columnSize = 15, data = &b.real;
        } else if (const auto* s = std::get_if<QString>(&value)) {
            b.bytes = codec_.encode(*s);
            sqlType = b.bytes.size() > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
            columnSize = static_cast<SQLULEN>(std::max<qsizetype>(1, b.bytes.size()));
            data = b.bytes.data();
            bufferLength = b.indicator = static_cast<SQLLEN>(b.bytes.size());
        } else if (const auto* t = std::get_if<QDateTime>(&value); t && t->isValid()) {
            const QDate date = t->date();
            const QTime time = t->time();
            b.timestamp = {static_cast<SQLSMALLINT>(date.year()),
                           static_cast<SQLUSMALLINT>(date.month()),
                           static_cast<SQLUSMALLINT>(date.day()),
                           static_cast<SQLUSMALLINT>(time.hour()),
                           static_cast<SQLUSMALLINT>(time.minute()),
                           static_cast<SQLUSMALLINT>(time.second()),
                           0};
            cType = SQL_C_TYPE_TIMESTAMP, sqlType = SQL_TYPE_TIMESTAMP, columnSize = 19, data = &b.timestamp;
        } else if (const auto* blob = std::get_if<QByteArray>(&value)) {
            b.bytes = *blob;
            cType = SQL_C_BINARY, sqlType = SQL_VARBINARY;
            columnSize = static_cast<SQLULEN>(std::max<qsizetype>(1, b.bytes.size()));
            data = b.bytes.data();
            bufferLength = b.indicator = static_cast<SQLLEN>(b.bytes.size());
        } else {
            b.indicator = SQL_NULL_DATA;  // null, or an invalid date-time
        }
        check(SQLBindParameter(stmt_, index, SQL_PARAM_INPUT, cType, sqlType, columnSize, 0, data, bufferLength,
                               &b.indicator),
              "Binding a parameter failed");
    }

    StatementOutcome execute()
    {
        check(SQLExecute(stmt_), "Executing the statement failed");
        StatementOutcome out;
        SQLSMALLINT columns = 0;
        check(SQLNumResultCols(stmt_, &columns), "Reading the result columns failed");
        if (columns == 0) {
            SQLLEN count = -1;
            check(SQLRowCount(stmt_, &count), "Reading the count of rows failed");
            out.rowsAffected = count;
            return out;
        }
        std::vector<SQLSMALLINT> sqlTypes;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
            SQLCHAR name[512] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            check(SQLDescribeCol(stmt_, c, name, sizeof name, &nameLength, &type, &size, &digits, &nullable),
                  "Describing a result column failed");
            out.rows.columns.push_back({codec_.decode(reinterpret_cast<const char*>(name)), columnType(type, digits)});
            sqlTypes.push_back(type);
        }
        for (;;) {
            const SQLRETURN rc = SQLFetch(stmt_);
            if (rc == SQL_NO_DATA)
                break;
            check(rc, "Fetching a row failed");
            std::vector<Value> row;
            row.reserve(static_cast<std::size_t>(columns));
            for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
                row.push_back(read(c, out.rows.columns[c - 1].type, sqlTypes[c - 1]));
            out.rows.rows.push_back(std::move(row));
        }
        return out;
    }

    struct Buffer {
        SQLINTEGER int32 = 0;
        SQLBIGINT int64 = 0;
        double real = 0;
        SQL_TIMESTAMP_STRUCT timestamp{};
        QByteArray bytes;
        SQLLEN indicator = 0;
    };

    // Reads a whole text or binary value, however long, in pieces.
    std::optional<QByteArray> readBytes(SQLUSMALLINT c, SQLSMALLINT cType)
    {
        QByteArray all;
        char piece[4096];
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(stmt_, c, cType, piece, sizeof piece, &indicator);
            if (rc == SQL_NO_DATA)
                break;
            check(rc, "Reading a column failed");
            if (indicator == SQL_NULL_DATA)
                return std::nullopt;
            const qsizetype room = cType == SQL_C_CHAR ? sizeof piece - 1 : sizeof piece;
            const qsizetype got = (indicator == SQL_NO_TOTAL || indicator > room) ? room : indicator;
            all.append(piece, got);
            if (rc == SQL_SUCCESS)
                break;  // SQL_SUCCESS_WITH_INFO: more follows
        }
        return all;
    }

    Value read(SQLUSMALLINT c, ColumnType type, SQLSMALLINT sqlType)
    {
        SQLLEN indicator = 0;
        switch (type) {
        case ColumnType::Integer:
        case ColumnType::Boolean: {
            if (sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC)
                break;  // may exceed 64 bits: read as text below
            SQLBIGINT v = 0;
            check(SQLGetData(stmt_, c, SQL_C_SBIGINT, &v, 0, &indicator), "Reading a column failed");
            return indicator == SQL_NULL_DATA ? Value{Null{}} : Value{static_cast<std::int64_t>(v)};
        }
        case ColumnType::Float: {
            double v = 0;
            check(SQLGetData(stmt_, c, SQL_C_DOUBLE, &v, 0, &indicator), "Reading a column failed");
            return indicator == SQL_NULL_DATA ? Value{Null{}} : Value{v};
        }
        case ColumnType::DateTime: {
            SQL_TIMESTAMP_STRUCT t{};
            check(SQLGetData(stmt_, c, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator), "Reading a column failed");
            return indicator == SQL_NULL_DATA ? Value{Null{}} : Value{fromTimestamp(t)};
        }
        case ColumnType::Binary: {
            auto bytes = readBytes(c, SQL_C_BINARY);
            return bytes ? Value{*bytes} : Value{Null{}};
        }
        case ColumnType::Text: break;
        }
        auto bytes = readBytes(c, SQL_C_CHAR);
        if (!bytes)
            return Null{};
        if (type == ColumnType::Integer) {  // a DECIMAL without fraction
            bool ok = false;
            const qlonglong v = bytes->trimmed().toLongLong(&ok);
            return ok ? Value{static_cast<std::int64_t>(v)} : Value{bytes->trimmed().toDouble()};
        }
        return codec_.decode(*bytes);
    }

    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    const Codec& codec_;
    QByteArray text_;
    std::list<Buffer> buffers_;  // stable addresses for the bound parameters
};

// The statements a connection has prepared, by their text as the caller gave it, so that the
// same statement on the same connection is prepared once and afterwards only executed. The
// least recently used goes when kCapacity are kept (statements whose text carries values vary).
class PreparedStatements {
public:
    Statement* find(const QString& sql)
    {
        const auto it = byText_.find(sql);
        if (it == byText_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->second.get();
    }

    Statement& keep(const QString& sql, std::unique_ptr<Statement> st)
    {
        if (order_.size() >= kCapacity) {
            byText_.erase(order_.back().first);
            order_.pop_back();
        }
        order_.emplace_front(sql, std::move(st));
        byText_.emplace(sql, order_.begin());
        return *order_.front().second;
    }

    void forget(const QString& sql)
    {
        const auto it = byText_.find(sql);
        if (it == byText_.end())
            return;
        order_.erase(it->second);
        byText_.erase(it);
    }

    void clear()
    {
        byText_.clear();
        order_.clear();
    }

private:
    static constexpr std::size_t kCapacity = 128;
    using Entry = std::pair<QString, std::unique_ptr<Statement>>;
    std::list<Entry> order_;
    std::unordered_map<QString, std::list<Entry>::iterator> byText_;
};

// Connects, waiting at most `seconds` (0: without limit). Only MariaDB's and MySQL's drivers
// take a connect limit from the connection string, and SOCI gives no way to set the login
// timeout before it connects; so the connect runs on a thread of its own and the caller gives
// up at the limit. A connect given up on finishes alone and closes what it got. While
// kMaxAbandonedConnects of them still hang, a new connect is refused at once instead of adding
// another thread.
constexpr int kMaxAbandonedConnects = 4;
std::atomic<int> abandonedConnects{0};

std::unique_ptr<soci::session> connectWithin(int seconds, const soci::connection_parameters& parameters,
                                             const Codec& codec)
{
    auto connect = [codec](const soci::connection_parameters& p) {
        try {
            return std::make_unique<soci::session>(p);
        } catch (const soci::odbc_soci_error& e) {
            throw fromSoci(e, codec);
        } catch (const soci::soci_error& e) {
            throw Error(e.get_error_message());
        }
    };
    if (seconds <= 0)
        return connect(parameters);
    if (abandonedConnects.load() >= kMaxAbandonedConnects)
        throw Error("Tietokantapalvelin ei ole vastannut aiempiin yhteydenottoihin; uutta ei aloitettu.", "HYT00");

    struct Attempt {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool abandoned = false;
        std::unique_ptr<soci::session> session;
        std::optional<Error> error;  // a copy: nothing of the thread's is shared
    };
    auto attempt = std::make_shared<Attempt>();
    std::thread thread([attempt, parameters, connect] {
        std::unique_ptr<soci::session> session;
        std::optional<Error> error;
        try {
            session = connect(parameters);
        } catch (const Error& e) {
            error = e;
        } catch (const std::exception& e) {
            error = Error(e.what());
        }
        std::unique_lock lock(attempt->mutex);
        attempt->done = true;
        if (attempt->abandoned) {
            lock.unlock();
            session.reset();  // nobody waits for it any more
            --abandonedConnects;
            return;
        }
        attempt->session = std::move(session);
        attempt->error = std::move(error);
        attempt->finished.notify_all();
    });

    std::unique_lock lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, std::chrono::seconds(seconds), [&] { return attempt->done; })) {
        attempt->abandoned = true;
        ++abandonedConnects;
        lock.unlock();
        thread.detach();  // it ends on its own once the server answers or the driver gives up
        throw Error("Tietokantapalvelin ei vastannut yhteydenottoon.", "HYT00");
    }
    // An attempt that ended in time is joined, so that what the driver and its TLS library keep
    // per thread is released before the connection is used or the program ends.
    lock.unlock();
    thread.join();
    if (attempt->error) {
        // A new text, not a copy sharing the connect thread's reference-counted one.
        const Error& e = *attempt->error;
        throw Error(std::string(e.what()), e.sqlState(), e.nativeCode());
    }
    return std::move(attempt->session);
}

class OdbcConnection final : public Connection {
public:
    explicit OdbcConnection(const ConnectionSettings& settings) : settings_(settings)
    {
        codec_.ansi = settings.usesAnsiCodePage();
        open();
    }

    ~OdbcConnection() override { statements_.clear(); }  // before the link closes

    StatementOutcome run(const QString& sql, const std::vector<Value>& params) override
    {
        if (broken_)
            statements_.clear();  // prepared on a link whose state is unknown
        bool sent = false;
        try {
            Statement* st = statements_.find(sql);
            const bool kept = st != nullptr;
            if (!kept)
                st = &prepareAndKeep(sql);
            StatementOutcome out;
            try {
                out = st->run(params, sent);
            } catch (const Error& e) {
                // A kept query whose tables changed answers with columns other than those it
                // was prepared for; the driver refuses to read them. It only read: it runs again,
                // prepared anew.
                if (!kept || e.nativeCode() != kResultColumnsChanged)
                    throw;
                statements_.forget(sql);
                sent = false;
                out = prepareAndKeep(sql).run(params, sent);
            }
            lastAnswer_ = Clock::now();
            return out;
        } catch (const Error& e) {
            // After a lost link or a driver's timeout the link's state is unknown, and with it
            // every statement prepared on it; a statement that failed alone is prepared anew.
            if (e.isLinkLost() || e.isTimeout()) {
                markLinkBroken();
            } else {
                lastAnswer_ = Clock::now();
                statements_.forget(sql);
            }
            if (sent)
                throw e.sentToServer();
            throw;
        }
    }

    void begin() override
    {
        guarded([this] { session_->begin(); });
    }
    void commit() override
    {
        guarded([this] { session_->commit(); });
    }
    void rollback() override
    {
        guarded([this] { session_->rollback(); });
    }

    bool alive() override
    {
        if (!session_ || broken_)
            return false;
        // A link that answered a moment ago is trusted without a round trip, unless the server
        // has closed it since: an idle link's socket has nothing to read until then.
        if (Clock::now() - lastAnswer_ < kLivenessWindow) {
            if (platform::tcpSocketReadable(socket_))
                markLinkBroken();
            return !broken_;
        }
        SQLUINTEGER dead = SQL_CD_FALSE;
        try {
            if (SQL_SUCCEEDED(SQLGetConnectAttr(hdbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
                dead == SQL_CD_TRUE)
                markLinkBroken();
        } catch (const Error&) {
            // hdbc() found the link closed and marked it
        }
        if (!broken_)
            lastAnswer_ = Clock::now();
        return !broken_;
    }

    bool inAutoCommit() override
    {
        SQLULEN mode = SQL_AUTOCOMMIT_OFF;
        return SQL_SUCCEEDED(SQLGetConnectAttr(hdbc(), SQL_ATTR_AUTOCOMMIT, &mode, 0, nullptr)) &&
               mode == SQL_AUTOCOMMIT_ON;
    }

    void reconnect() override
    {
        statements_.clear();
        socket_ = -1;
        session_.reset();
        open();
        broken_ = false;
    }

    void breakLink() override
    {
        statements_.clear();
        socket_ = -1;
        session_->close();
    }

private:
    // The settings' connection string. MariaDB's and MySQL's drivers take their limits from
    // it: the connect limit for connecting and logging in, the statement limit for every read
    // and write on the link, so that a server that stops answering cannot hold a call longer.
    QString connectString() const
    {
        QString cs = settings_.odbcConnectString();
        if (!mariaDbDriver())
            return cs;
        const std::pair<const char*, int> limits[] = {
            {"CONN_TIMEOUT", settings_.limits.connectSeconds},
            {"READ_TIMEOUT", settings_.limits.statementSeconds},
            {"WRITE_TIMEOUT", settings_.limits.statementSeconds},
        };
        for (const auto& [key, seconds] : limits) {
            const QRegularExpression given(QStringLiteral("(^|;)\\s*%1\\s*=").arg(QLatin1String(key)),
                                           QRegularExpression::CaseInsensitiveOption);
            if (seconds > 0 && !cs.contains(given)) {
                if (!cs.isEmpty() && !cs.endsWith(QLatin1Char(';')))
                    cs += QLatin1Char(';');
                cs += QStringLiteral("%1=%2;").arg(QLatin1String(key)).arg(seconds);
            }
        }
        return cs;
    }

    void open()
    {
        const QByteArray connectString = codec_.encode(this->connectString());
        // Never a login dialog: a missing or wrong account is an error, not a prompt.
        soci::connection_parameters parameters(soci::odbc, connectString.toStdString());
        parameters.set_option(soci::odbc_option_driver_complete, "0" /* SQL_DRIVER_NOPROMPT */);
        session_ = connectWithin(settings_.limits.connectSeconds, parameters, codec_);
        lastAnswer_ = Clock::now();
        socket_ = findSocket();
    }

    Statement& prepareAndKeep(const QString& sql)
    {
        auto fresh = std::make_unique<Statement>(hdbc(), codec_, settings_.limits.statementSeconds);
        fresh->prepare(sql);
        return statements_.keep(sql, std::move(fresh));
    }

    bool mariaDbDriver() const
    {
        static const QRegularExpression mariaDb(QStringLiteral("DRIVER\\s*=\\s*\\{?[^;]*(MariaDB|MySQL)"),
                                                QRegularExpression::CaseInsensitiveOption);
        return settings_.odbcConnectString().contains(mariaDb);
    }

    // The TCP socket of a MariaDB or MySQL link, found by the ports the server sees it on, so
    // that alive() can tell a link the server has closed without asking the server; -1 when it
    // cannot be found (a local socket, a proxy between, another driver).
    int findSocket()
    {
        if (!mariaDbDriver())
            return -1;
        try {
            Statement st(hdbc(), codec_, settings_.limits.statementSeconds);
            st.prepare(
                QStringLiteral("SELECT HOST, @@port FROM information_schema.PROCESSLIST WHERE ID=CONNECTION_ID()"));
            bool sent = false;
            const StatementOutcome out = st.run({}, sent);
            if (out.rows.rows.size() != 1)
                return -1;
            const auto* host = std::get_if<QString>(&out.rows.rows[0][0]);
            const auto* serverPort = std::get_if<std::int64_t>(&out.rows.rows[0][1]);
            if (!host || !serverPort)
                return -1;
            bool ok = false;
            const uint localPort = host->mid(host->lastIndexOf(QLatin1Char(':')) + 1).toUInt(&ok);
            if (!ok || localPort > 65535 || *serverPort <= 0 || *serverPort > 65535)
                return -1;
            return platform::findTcpSocket(static_cast<std::uint16_t>(localPort),
                                           static_cast<std::uint16_t>(*serverPort));
        } catch (const Error&) {
            return -1;  // the statement's failure shows again in the caller's own statement
        }
    }

    // The link's state is unknown: its statements go, and the pool replaces it.
    void markLinkBroken()
    {
        broken_ = true;
        statements_.clear();
        socket_ = -1;
    }

    SQLHDBC hdbc()
    {
        auto* backend = session_ ? static_cast<soci::odbc_session_backend*>(session_->get_backend()) : nullptr;
        if (!backend || backend->hdbc_ == SQL_NULL_HDBC) {
            broken_ = true;
            throw Error("The link to the database is closed", "08003");
        }
        return backend->hdbc_;
    }

    template <typename F>
    void guarded(F f)
    {
        hdbc();
        try {
            f();
            lastAnswer_ = Clock::now();
        } catch (const soci::odbc_soci_error& e) {
            const Error error = fromSoci(e, codec_);
            if (error.isLinkLost())
                markLinkBroken();
            throw error;
        } catch (const soci::soci_error& e) {
            throw Error(e.get_error_message());
        }
    }

    ConnectionSettings settings_;
    Codec codec_;
    std::unique_ptr<soci::session> session_;
    PreparedStatements statements_;
    Clock::time_point lastAnswer_;  // when the server last answered on this link
    int socket_ = -1;               // the link's TCP socket, when found (findSocket)
};

}  // namespace

std::unique_ptr<Connection> connectOdbc(const ConnectionSettings& settings)
{
    return std::make_unique<OdbcConnection>(settings);
}

std::unique_ptr<Connection> connect(const ConnectionSettings& settings)
{
    return settings.kind == ConnectionSettings::Kind::Sqlite ? connectSqlite(settings) : connectOdbc(settings);
}

}  // namespace krp::db
