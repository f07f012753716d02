#pragma once
// Small helpers shared by the methods: trimming and upper-casing of codes, and log lines.
#include <QString>

namespace krp {

// Removes every leading and trailing character whose code is 32 or below.
QString trimControl(const QString& s);
// trimControl, then full Unicode upper case (ä -> Ä).
QString trimUpper(const QString& s);

// Progress line: time text, ": ", message.
void logProgress(const QString& message);
// Failure line: time text, fragment (" Tag: "), text (control characters escaped, as a
// client's text, and cut at 2,000 characters).
void logFailure(const QString& fragment, const QString& text);

}  // namespace krp
