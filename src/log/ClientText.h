#pragma once
// Texts that came from a client, as they may stand in a log line: control characters written
// visibly escaped ("\n", "\x00"), so that a client cannot start a line of its own, and the
// text cut at 200 characters with "…". Everything else of the line stays as it is.
#include <QString>

namespace krp {

QString logSafe(const QString& clientText);

}  // namespace krp
