// Reading a field the way the ERP's programs read theirs: null is 0, the empty text or the
// zero date-time; numbers, texts and date-times convert into each other where that is sound.
#include "db/Query.h"

#include <cfenv>
#include <cmath>

namespace krp::db {
namespace {

constexpr qint64 kMillisecondsPerDay = 86400000;

QDateTime fromDays(double days)
{
    const double whole = std::trunc(days);
    const double fraction = std::fabs(days - whole);
    const auto ms = static_cast<qint64>(std::llround(fraction * kMillisecondsPerDay));
    return QDateTime(QDate(1899, 12, 30).addDays(static_cast<qint64>(whole)), QTime(0, 0)).addMSecs(ms);
}

double toDays(const QDateTime& t)
{
    const qint64 days = QDate(1899, 12, 30).daysTo(t.date());
    const double fraction = t.time().msecsSinceStartOfDay() / double(kMillisecondsPerDay);
    return days >= 0 ? days + fraction : days - fraction;
}

std::optional<QDateTime> parseDateTime(const QString& text)
{
    const QString t = text.trimmed();
    for (const char* format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm:ss.zzz",
                               "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(format));
        if (dt.isValid())
            return dt;
    }
    return std::nullopt;
}

[[noreturn]] void cannotConvert(const QString& field, const char* what, const QString& shown)
{
    throw Error("Field '" + field.toStdString() + "': '" + shown.toStdString() + "' is not a valid " + what);
}

}  // namespace

QDateTime zeroDateTime()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

QString Field::asText() const
{
    if (const auto* s = std::get_if<QString>(&v_))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&v_))
        return QString::number(*i);
    if (const auto* d = std::get_if<double>(&v_))
        return QString::number(*d, 'g', 15);
    if (const auto* t = std::get_if<QDateTime>(&v_))
        return t->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (const auto* b = std::get_if<QByteArray>(&v_))
        return QString::fromUtf8(*b);
    return {};
}

std::int64_t Field::asInteger() const
{
    if (const auto* i = std::get_if<std::int64_t>(&v_))
        return *i;
    if (const auto* d = std::get_if<double>(&v_)) {
        if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18)
            cannotConvert(name_, "integer", QString::number(*d, 'g', 15));
        const int previous = std::fegetround();
        std::fesetround(FE_TONEAREST);
        const double rounded = std::nearbyint(*d);  // halves to the even neighbour
        std::fesetround(previous);
        return static_cast<std::int64_t>(rounded);
    }
    if (const auto* s = std::get_if<QString>(&v_)) {
        bool ok = false;
        const qlonglong v = s->trimmed().toLongLong(&ok);
        if (!ok)
            cannotConvert(name_, "integer", *s);
        return v;
    }
    if (isNull())
        return 0;
    cannotConvert(name_, "integer", asText());
}

double Field::asFloat() const
{
    if (const auto* d = std::get_if<double>(&v_))
        return *d;
    if (const auto* i = std::get_if<std::int64_t>(&v_))
        return static_cast<double>(*i);
    if (const auto* s = std::get_if<QString>(&v_)) {
        bool ok = false;
        const double v = QString(s->trimmed()).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        if (!ok)
            cannotConvert(name_, "number", *s);
        return v;
    }
    if (const auto* t = std::get_if<QDateTime>(&v_))
        return toDays(*t);
    if (isNull())
        return 0;
    cannotConvert(name_, "number", asText());
}

QDateTime Field::asDateTime() const
{
    if (const auto* t = std::get_if<QDateTime>(&v_))
        return *t;
    if (isNull())
        return zeroDateTime();
    if (const auto* s = std::get_if<QString>(&v_)) {
        if (s->trimmed().isEmpty())
            return zeroDateTime();
        if (auto dt = parseDateTime(*s))
            return *dt;
        cannotConvert(name_, "date-time", *s);
    }
    if (const auto* d = std::get_if<double>(&v_))
        return fromDays(*d);
    if (const auto* i = std::get_if<std::int64_t>(&v_))
        return fromDays(static_cast<double>(*i));
    cannotConvert(name_, "date-time", asText());
}

}  // namespace krp::db
