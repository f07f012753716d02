#include "db/SqlText.h"

namespace krp::db {
namespace {

bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}
bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Length of the literal or comment starting at `i`, or 0 when `i` starts code.
qsizetype quotedLength(const QString& s, qsizetype i)
{
    const qsizetype n = s.size();
    const QChar c = s.at(i);
    if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
        qsizetype j = i + 1;
        while (j < n) {
            if (s.at(j) == c) {
                if (j + 1 < n && s.at(j + 1) == c) {  // doubled quote inside
                    j += 2;
                    continue;
                }
                return j + 1 - i;
            }
            ++j;
        }
        return n - i;  // unterminated: the rest is the literal
    }
    if (c == QLatin1Char('-') && i + 1 < n && s.at(i + 1) == QLatin1Char('-')) {
        const qsizetype end = s.indexOf(QLatin1Char('\n'), i);
        return (end < 0 ? n : end) - i;
    }
    if (c == QLatin1Char('/') && i + 1 < n && s.at(i + 1) == QLatin1Char('*')) {
        const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
        return (end < 0 ? n : end + 2) - i;
    }
    return 0;
}

}  // namespace

void forEachCodeRun(const QString& sql, const std::function<void(qsizetype, qsizetype, bool)>& visit)
{
    qsizetype codeStart = 0;
    qsizetype i = 0;
    while (i < sql.size()) {
        const qsizetype q = quotedLength(sql, i);
        if (q == 0) {
            ++i;
            continue;
        }
        if (i > codeStart)
            visit(codeStart, i - codeStart, true);
        visit(i, q, false);
        i += q;
        codeStart = i;
    }
    if (sql.size() > codeStart)
        visit(codeStart, sql.size() - codeStart, true);
}

PositionalStatement toPositional(const QString& sql)
{
    PositionalStatement out;
    out.text.reserve(sql.size());
    QStringList upperNames;
    forEachCodeRun(sql, [&](qsizetype start, qsizetype length, bool inCode) {
        if (!inCode) {
            out.text += QStringView(sql).mid(start, length);
            return;
        }
        const qsizetype end = start + length;
        for (qsizetype i = start; i < end; ++i) {
            const QChar c = sql.at(i);
            if (c == QLatin1Char(':') && i + 1 < end && sql.at(i + 1) == QLatin1Char(':')) {
                out.text += QLatin1String("::");
                ++i;
                continue;
            }
            if (c != QLatin1Char(':') || i + 1 >= end || !isNameStart(sql.at(i + 1))) {
                out.text += c;
                continue;
            }
            qsizetype j = i + 1;
            while (j < end && isNameChar(sql.at(j)))
                ++j;
            const QString name = sql.mid(i + 1, j - i - 1);
            const QString upper = name.toUpper();
            if (!upperNames.contains(upper)) {
                upperNames.append(upper);
                out.names.append(name);
            }
            out.occurrences.append(upper);
            out.text += QLatin1Char('?');
            i = j - 1;
        }
    });
    return out;
}

QStringList splitScript(const QString& script)
{
    QStringList statements;
    QString current;
    bool hasCode = false;
    auto finish = [&] {
        if (hasCode)
            statements.append(current.trimmed());
        current.clear();
        hasCode = false;
    };
    forEachCodeRun(script, [&](qsizetype start, qsizetype length, bool inCode) {
        const QStringView run = QStringView(script).mid(start, length);
        if (!inCode) {
            const bool comment = run.startsWith(u"--") || run.startsWith(u"/*");
            if (!comment) {
                current += run;
                hasCode = true;
            } else if (hasCode) {
                current += run;
            }
            return;
        }
        for (QChar c : run) {
            if (c == QLatin1Char(';')) {
                finish();
                continue;
            }
            if (!c.isSpace())
                hasCode = true;
            if (hasCode)
                current += c;
        }
    });
    finish();
    return statements;
}

}  // namespace krp::db
