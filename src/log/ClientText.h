#pragma once
// Texts that came from a client, as they may stand in a log line: control characters written
// visibly escaped ("\n", "\x00", "\u202e"), so that a client cannot start a line of its own nor
// turn the rest of a line around (the bidirectional controls), and the text cut at `maxChars`
// characters with "…". Everything else of the line stays as it is.
#include <QString>

namespace krp {

QString logSafe(const QString& clientText, qsizetype maxChars = 200);

}  // namespace krp
