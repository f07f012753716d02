#pragma once
// Lexical work on statement texts that both database kinds share: finding named parameters
// outside quoted literals and comments, and splitting a script into statements.
#include <QString>
#include <QStringList>
#include <functional>

namespace krp::db {

// A statement whose ":name" parameters were replaced by positional "?" markers.
struct PositionalStatement {
    QString text;             // the statement with a "?" for every occurrence
    QStringList occurrences;  // parameter name (upper case) of each "?", in text order
    QStringList names;        // every distinct name as first written, in order of appearance
};

// ":name" starts a parameter when ':' is followed by a letter or '_' and is not part of "::";
// the name runs over letters, digits and '_'. Names are matched without regard to case, so a
// name used twice (also in other letter case) is one parameter bound at each occurrence.
// Text inside '...' literals, "..." identifiers, -- comments and /* */ comments is left alone.
PositionalStatement toPositional(const QString& sql);

// Calls `visit(start, length, inCode)` for consecutive runs of `sql`: runs of code and runs of
// quoted literals or comments (inCode false). The runs together cover the whole text.
void forEachCodeRun(const QString& sql,
                    const std::function<void(qsizetype start, qsizetype length, bool inCode)>& visit);

// Splits a script into statements at ';' outside literals and comments. Statements are trimmed;
// empty ones and comment-only ones are dropped.
QStringList splitScript(const QString& script);

}  // namespace krp::db
