#include "OdbcYardstick.h"
#include "RepeatOnThreads.h"
#include "SearchPhases.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krp::bench {

namespace {

// The INSERT of LisaaVarastoontulorivit with positional markers.
const char* const kReceiptInsert =
    "INSERT INTO KERUUOSTOTILAUS (KEO_ID, KEO_OSTOTILAUSNRO, KEO_TILAUSRIVINRO, KEO_TOIMITTAJANRO, KEO_TUOTEKOODI, "
    "KEO_SAAPUVAMAARA, KEO_KERATTYMAARA, KEO_KASITELTY, KEO_JATKOKASITELTY, KEO_KERUUPAATEID, KEO_TILA) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, null, null, ?, ?)";

std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle, const std::string& what)
{
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length)))
        return "ODBC yardstick: " + what + ": " + reinterpret_cast<const char*>(message);
    return "ODBC yardstick: " + what + " failed";
}

// One thread's connection to the database.
class Link {
public:
    explicit Link(const std::string& connectionString)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        std::string text = connectionString;
        SQLCHAR out[1024];
        SQLSMALLINT outLength = 0;
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, out,
                                            sizeof out, &outLength, SQL_DRIVER_NOPROMPT)))
            throw std::runtime_error(diagnostics(SQL_HANDLE_DBC, dbc_, "connecting"));
    }
    ~Link()
    {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    SQLHSTMT prepare(const std::string& sql)
    {
        SQLHSTMT st = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
        std::string text = sql;
        if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS))) {
            const std::string error = diagnostics(SQL_HANDLE_STMT, st, "preparing");
            SQLFreeHandle(SQL_HANDLE_STMT, st);
            throw std::runtime_error(error);
        }
        return st;
    }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

class Searcher {
public:
    Searcher(const std::string& connectionString, bool kept) : link_(connectionString), kept_(kept)
    {
        for (int phase = 0; phase < 3; ++phase) {
            sql_[phase] = searchPhaseSql(phase, "?", "?");
            if (kept_)
                statements_[phase] = link_.prepare(sql_[phase]);
        }
    }
    ~Searcher()
    {
        for (SQLHSTMT st : statements_)
            if (st != SQL_NULL_HSTMT)
                SQLFreeHandle(SQL_HANDLE_STMT, st);
    }

    std::size_t search(const std::string& code)
    {
        for (int phase = 0; phase < 3; ++phase)
            if (const std::size_t rows = runPhase(phase, code); rows > 0)
                return rows;
        return 0;
    }

private:
    std::size_t runPhase(int phase, const std::string& code)
    {
        SQLHSTMT st = kept_ ? statements_[phase] : link_.prepare(sql_[phase]);
        SQLINTEGER supplier = 0;
        SQLLEN codeLength = static_cast<SQLLEN>(code.size());
        SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &supplier, 0, nullptr);
        SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &supplier, 0, nullptr);
        SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, code.size(), 0,
                         const_cast<char*>(code.data()), codeLength, &codeLength);
        if (!SQL_SUCCEEDED(SQLExecute(st)))
            throw std::runtime_error(diagnostics(SQL_HANDLE_STMT, st, "executing a search phase"));
        std::size_t rows = 0;
        while (SQLFetch(st) == SQL_SUCCESS) {
            ++rows;
            for (SQLUSMALLINT c = 1; c <= 5; ++c) {
                char text[256];
                SQLLEN indicator = 0;
                SQLGetData(st, c, SQL_C_CHAR, text, sizeof text, &indicator);
                row_[c - 1].assign(text, indicator > 0 ? std::min<std::size_t>(indicator, sizeof text - 1) : 0);
            }
        }
        if (kept_) {
            SQLFreeStmt(st, SQL_CLOSE);
            SQLFreeStmt(st, SQL_RESET_PARAMS);
        } else {
            SQLFreeHandle(SQL_HANDLE_STMT, st);
        }
        return rows;
    }

    Link link_;
    bool kept_;
    std::string sql_[3];
    SQLHSTMT statements_[3] = {SQL_NULL_HSTMT, SQL_NULL_HSTMT, SQL_NULL_HSTMT};
    std::string row_[5];
};

class ReceiptWriter {
public:
    ReceiptWriter(const std::string& connectionString) : link_(connectionString), st_(link_.prepare(kReceiptInsert)) {}
    ~ReceiptWriter() { SQLFreeHandle(SQL_HANDLE_STMT, st_); }

    void insert(const std::string& id)
    {
        SQLINTEGER order = 5001, line = 1, supplier = 101;
        double arriving = 2, collected = 2;
        std::string product = "JP-1001", terminal = "penkki", state = "KESKEN";
        SQLLEN idLength = static_cast<SQLLEN>(id.size()), productLength = static_cast<SQLLEN>(product.size()),
               terminalLength = static_cast<SQLLEN>(terminal.size()), stateLength = static_cast<SQLLEN>(state.size());
        const auto text = [&](SQLUSMALLINT n, std::string& value, SQLLEN& length) {
            SQLBindParameter(st_, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, value.size(), 0, value.data(), length,
                             &length);
        };
        text(1, const_cast<std::string&>(id), idLength);
        SQLBindParameter(st_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &order, 0, nullptr);
        SQLBindParameter(st_, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &line, 0, nullptr);
        SQLBindParameter(st_, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &supplier, 0, nullptr);
        text(5, product, productLength);
        SQLBindParameter(st_, 6, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &arriving, 0, nullptr);
        SQLBindParameter(st_, 7, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &collected, 0, nullptr);
        text(8, terminal, terminalLength);
        text(9, state, stateLength);
        if (!SQL_SUCCEEDED(SQLExecute(st_)))
            throw std::runtime_error(diagnostics(SQL_HANDLE_STMT, st_, "inserting a receipt row"));
        SQLFreeStmt(st_, SQL_RESET_PARAMS);
    }

private:
    Link link_;
    SQLHSTMT st_;
};

}  // namespace

double runOdbcSearch(const std::string& connectionString, const std::string& code, unsigned threads, bool kept,
                     std::chrono::milliseconds duration)
{
    using State = std::unique_ptr<Searcher>;
    return repeatOnThreads<State>(
        threads, duration, [&](unsigned) { return std::make_unique<Searcher>(connectionString, kept); },
        [&](Searcher& s, unsigned, std::uint64_t) {
            if (s.search(code) == 0)
                throw std::runtime_error("ODBC yardstick: the search found nothing for " + code);
        });
}

double runOdbcReceiptRows(const std::string& connectionString, const std::string& idPrefix, unsigned threads,
                          std::chrono::milliseconds duration)
{
    using State = std::unique_ptr<ReceiptWriter>;
    return repeatOnThreads<State>(
        threads, duration, [&](unsigned) { return std::make_unique<ReceiptWriter>(connectionString); },
        [&](ReceiptWriter& w, unsigned t, std::uint64_t n) {
            w.insert(idPrefix + std::to_string(t) + "-" + std::to_string(n));
        });
}

}  // namespace krp::bench
