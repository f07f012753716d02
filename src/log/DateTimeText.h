#pragma once
// Regional texts of the server machine (QLocale::system(), which follows LANG / LC_ALL).
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace krp {

// Short date, one blank, long time (hours, minutes, seconds in the locale's own form, no zone
// name); the time is left out when it is exactly midnight. "9.12.2026 23.26.38" in Finnish.
QString dateTimeText(const QDateTime& localTime);
QString nowText();  // dateTimeText of the current local time

// The same with an explicit locale (the functions above use QLocale::system()).
QString dateTimeText(const QDateTime& localTime, const QLocale& locale);
// The locale's long time format with the time-zone name taken out ("H.mm.ss" in Finnish).
QString longTimeFormatWithoutZone(const QLocale& locale);

// General form with up to 15 significant digits and the system decimal separator, no
// thousands separator: 12.5 -> "12,5" under a Finnish locale. Very large or very small
// magnitudes use the exponent form "1,5E20" / "1E-7".
QString generalFloatText(double value);
QString generalFloatText(double value, const QLocale& locale);
// Pattern "0.00": always two decimals, system decimal separator, no thousands separator.
QString twoDecimalsText(double value);
QString twoDecimalsText(double value, const QLocale& locale);

}  // namespace krp
