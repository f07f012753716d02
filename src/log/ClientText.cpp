#include "ClientText.h"

namespace krp {

namespace {

// Characters that change the order in which the rest of a line is shown: the bidirectional
// marks, embeddings, overrides and isolates.
bool isBidiControl(char16_t u)
{
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

}  // namespace

QString logSafe(const QString& clientText, qsizetype maxChars)
{
    QString out;
    qsizetype chars = 0;
    for (qsizetype i = 0; i < clientText.size(); ++i, ++chars) {
        if (chars == maxChars) {
            out += QChar(0x2026);
            break;
        }
        const QChar c = clientText[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < clientText.size() && clientText[i + 1].isLowSurrogate()) {
            out += c;
            out += clientText[++i];
        } else if (u == '\n') {
            out += QStringLiteral("\\n");
        } else if (u == '\r') {
            out += QStringLiteral("\\r");
        } else if (u == '\t') {
            out += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029 || isBidiControl(u)) {
            // C0 and C1 controls, the Unicode line and paragraph separators, bidirectional controls.
            out += u <= 0xFF ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace krp
