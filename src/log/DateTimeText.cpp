#include "DateTimeText.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <string>
#include <cstdio>
#include <cstdlib>

namespace krp {

namespace {

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QChar(0x00A0) || c == QChar(0x202F);
}

}  // namespace

QString longTimeFormatWithoutZone(const QLocale& locale)
{
    // Qt's long time format ends in a zone-name token ("t"), which the log's time text does
    // not carry. Remove every run of 't' outside quoted literal text, with the blanks that
    // separated it from the rest.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    out.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == QLatin1Char('t')) {
            while (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('t'))
                ++i;
            // Drop the blanks before the token; when the token stood first, those after it.
            if (!out.isEmpty()) {
                while (!out.isEmpty() && isSpace(out.back()))
                    out.chop(1);
            } else {
                while (i + 1 < format.size() && isSpace(format.at(i + 1)))
                    ++i;
            }
            continue;
        }
        out += c;
    }
    while (!out.isEmpty() && isSpace(out.back()))
        out.chop(1);
    return out;
}

QString dateTimeText(const QDateTime& localTime, const QLocale& locale)
{
    const QDateTime t = localTime.toLocalTime();
    QString text = locale.toString(t.date(), QLocale::ShortFormat);
    if (t.time() != QTime(0, 0)) {
        text += QLatin1Char(' ');
        text += locale.toString(t.time(), longTimeFormatWithoutZone(locale));
    }
    return text;
}

QString dateTimeText(const QDateTime& localTime)
{
    return dateTimeText(localTime, QLocale::system());
}

// The text changes once a second: each thread keeps the text of the last second it wrote, so a
// busy server does not read the time zone and format a date for every log line.
QString nowText()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto second = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    thread_local std::int64_t cachedSecond = -1;
    thread_local QString cachedText;
    if (second == cachedSecond)
        return cachedText;
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    // Midnight's own second is not kept: its exact start shows the date alone.
    if (local.time().hour() == 0 && local.time().minute() == 0 && local.time().second() == 0)
        return dateTimeText(local);
    cachedText = dateTimeText(local);
    cachedSecond = second;
    return cachedText;
}

QString generalFloatText(double value, const QLocale& locale)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");

    // 15 significant digits, then the shortest of them.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const bool negative = buf[0] == '-';
    const char* p = buf + (negative ? 1 : 0);
    QString digits;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += QLatin1Char(*p);
    const int exponent = std::atoi(p + 1);
    while (digits.size() > 1 && digits.back() == QLatin1Char('0'))
        digits.chop(1);

    const QString point = locale.decimalPoint();
    QString text = negative ? QStringLiteral("-") : QString();
    if (exponent >= 15 || exponent < -5) {
        text += digits.left(1);
        if (digits.size() > 1)
            text += point + digits.mid(1);
        text += QLatin1Char('E') + QString::number(exponent);
    } else if (exponent < 0) {
        text += QLatin1Char('0') + point + QString(-exponent - 1, QLatin1Char('0')) + digits;
    } else {
        const int intDigits = exponent + 1;
        if (digits.size() <= intDigits) {
            text += digits + QString(intDigits - digits.size(), QLatin1Char('0'));
        } else {
            text += digits.left(intDigits) + point + digits.mid(intDigits);
        }
    }
    return text;
}

QString generalFloatText(double value)
{
    return generalFloatText(value, QLocale::system());
}

QString twoDecimalsText(double value, const QLocale& locale)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    // Round the shortest decimal form of the value, half away from zero: 0.125 -> "0.13",
    // 1.005 -> "1.01", as the number reads, not as its binary neighbour happens to lie.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
    const std::string text(buf, res.ptr);
    const auto dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    const bool roundUp = fraction.size() > 2 && fraction[2] >= '5';
    fraction.resize(2, '0');
    std::string digits = whole + fraction;
    if (roundUp) {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
            digits[static_cast<size_t>(i--)] = '0';
        if (i < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[static_cast<size_t>(i)];
    }
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    QString out = (value < 0 && !zero) ? QStringLiteral("-") : QString();
    out += QString::fromLatin1(digits.substr(0, digits.size() - 2));
    out += locale.decimalPoint();
    out += QString::fromLatin1(digits.substr(digits.size() - 2));
    return out;
}

QString twoDecimalsText(double value)
{
    return twoDecimalsText(value, QLocale::system());
}

}  // namespace krp
