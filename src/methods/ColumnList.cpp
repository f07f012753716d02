#include "methods/ColumnList.h"

#include <QRegularExpression>

namespace krp {

bool isColumnList(const QString& text)
{
    // Blank: space, tab or line break. Name: a letter or "_" first, then letters, digits, "_".
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
        "[ \\t\\r\\n]*"
        "(?:\\*|[\\p{L}_][\\p{L}0-9_]*(?:[ \\t\\r\\n]*\\.[ \\t\\r\\n]*(?:\\*|[\\p{L}_][\\p{L}0-9_]*))?)"
        "(?:[ \\t\\r\\n]*,[ \\t\\r\\n]*"
        "(?:\\*|[\\p{L}_][\\p{L}0-9_]*(?:[ \\t\\r\\n]*\\.[ \\t\\r\\n]*(?:\\*|[\\p{L}_][\\p{L}0-9_]*))?))*"
        "[ \\t\\r\\n]*")));
    return pattern.match(text).hasMatch();
}

}  // namespace krp
