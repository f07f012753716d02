#include "db/SqliteDialect.h"

#include "db/Error.h"
#include "db/SqlText.h"

#include <QDateTime>
#include <QRegularExpression>
#include <sqlite3.h>

namespace krp::db::sqlite {
namespace {

// 'Y-M-D' or 'Y-M-D H:M[:S]' -> zero-padded; anything else unchanged.
QString normaliseDateLiteral(const QString& literal)
{
    static const QRegularExpression date(
        QStringLiteral("^'(\\d{4})-(\\d{1,2})-(\\d{1,2})(?:[ T](\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?)?'$"));
    const QRegularExpressionMatch m = date.match(literal);
    if (!m.hasMatch())
        return literal;
    auto two = [&](int i) { return m.captured(i).rightJustified(2, QLatin1Char('0')); };
    QString out = QLatin1Char('\'') + m.captured(1) + QLatin1Char('-') + two(2) + QLatin1Char('-') + two(3);
    if (m.capturedLength(4) > 0) {
        out += QLatin1Char(' ') + two(4) + QLatin1Char(':') + two(5) + QLatin1Char(':') +
               (m.capturedLength(6) > 0 ? two(6) : QStringLiteral("00"));
    }
    return out + QLatin1Char('\'');
}

struct RowLimit {
    qsizetype start = 0;
    qsizetype length = 0;
    long long limit = 0;
};

// Finds "ROWNUM<n" / "ROWNUM<=n" in the code runs of `sql`.
QString rewriteRownum(const QString& sql)
{
    static const QRegularExpression rownum(QStringLiteral("\\bROWNUM\\b"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression condition(QStringLiteral("ROWNUM\\s*(<=|<)\\s*(\\d+)"),
                                              QRegularExpression::CaseInsensitiveOption);
    QList<RowLimit> found;
    int depth = 0;
    forEachCodeRun(sql, [&](qsizetype start, qsizetype length, bool inCode) {
        if (!inCode)
            return;
        const QString run = sql.mid(start, length);
        qsizetype pos = 0;
        auto it = rownum.globalMatch(run);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            for (; pos < m.capturedStart(); ++pos) {
                if (run.at(pos) == QLatin1Char('('))
                    ++depth;
                else if (run.at(pos) == QLatin1Char(')'))
                    --depth;
            }
            const QRegularExpressionMatch c = condition.match(run, m.capturedStart(), QRegularExpression::NormalMatch,
                                                              QRegularExpression::AnchorAtOffsetMatchOption);
            if (!c.hasMatch() || depth != 0)
                throw Error(
                    "ROWNUM is supported on SQLite only as a condition ROWNUM<n of the "
                    "outermost statement");
            const long long n = c.captured(2).toLongLong();
            found.append(
                {start + c.capturedStart(), c.capturedLength(), c.captured(1) == QLatin1String("<") ? n - 1 : n});
        }
        for (; pos < run.size(); ++pos) {
            if (run.at(pos) == QLatin1Char('('))
                ++depth;
            else if (run.at(pos) == QLatin1Char(')'))
                --depth;
        }
    });
    if (found.isEmpty())
        return sql;
    QString out = sql;
    long long limit = found.first().limit;
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        out.replace(it->start, it->length, QStringLiteral("1=1"));
        limit = std::min(limit, it->limit);
    }
    while (!out.isEmpty() && (out.back().isSpace() || out.back() == QLatin1Char(';')))
        out.chop(1);
    return out + QStringLiteral("\nLIMIT ") + QString::number(std::max(0LL, limit));
}

QString text(sqlite3_value* v)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return QString::fromUtf8(bytes, sqlite3_value_bytes(v));
}

void resultText(sqlite3_context* ctx, const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void nowFunction(sqlite3_context* ctx, int, sqlite3_value**)
{
    resultText(ctx, QDateTime::currentDateTime().toString(QLatin1String(kDateTimeFormat)));
}

void upperFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    resultText(ctx, text(argv[0]).toUpper());
}

void lowerFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    resultText(ctx, text(argv[0]).toLower());
}

}  // namespace

QString translate(const QString& sql)
{
    QString dated;
    dated.reserve(sql.size());
    forEachCodeRun(sql, [&](qsizetype start, qsizetype length, bool inCode) {
        const QString run = sql.mid(start, length);
        dated += inCode || !run.startsWith(QLatin1Char('\'')) ? run : normaliseDateLiteral(run);
    });
    return rewriteRownum(dated);
}

void registerFunctions(sqlite3* db)
{
    const int deterministic = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    int rc = sqlite3_create_function_v2(db, "now", 0, SQLITE_UTF8, nullptr, nowFunction, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "upper", 1, deterministic, nullptr, upperFunction, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "lower", 1, deterministic, nullptr, lowerFunction, nullptr, nullptr,
                                        nullptr);
    if (rc != SQLITE_OK)
        throw Error(std::string("Registering SQL functions failed: ") + sqlite3_errmsg(db));
}

}  // namespace krp::db::sqlite
