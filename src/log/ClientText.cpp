#include "ClientText.h"

namespace krp {

namespace {
constexpr qsizetype kMaxChars = 200;
}  // namespace

QString logSafe(const QString& clientText)
{
    QString out;
    qsizetype chars = 0;
    for (qsizetype i = 0; i < clientText.size(); ++i, ++chars) {
        if (chars == kMaxChars) {
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
        } else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029) {
            // C0 and C1 controls and the Unicode line and paragraph separators.
            out += u <= 0xFF ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace krp
