#pragma once
// Regional texts of the server machine (QLocale::system(), which follows LANG / LC_ALL).
#include <QDateTime>
#include <QString>

namespace krp {

// Short date, one blank, long time (hours, minutes, seconds in the locale's own form, no zone
// name); the time is left out when it is exactly midnight. "9.12.2026 23.26.38" in Finnish.
QString dateTimeText(const QDateTime& localTime);
QString nowText();  // dateTimeText of the current local time

// General form with up to 15 significant digits and the system decimal separator, no
// thousands separator: 12.5 -> "12,5" under a Finnish locale.
QString generalFloatText(double value);
// Pattern "0.00": always two decimals, system decimal separator, no thousands separator.
QString twoDecimalsText(double value);

}  // namespace krp
