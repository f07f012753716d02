#include "DateTimeValue.h"

#include <cmath>

namespace krp::types {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsecsPerDay = 86'400'000.0;

}  // namespace

// The whole days count from 30 December 1899; the fraction is the time of day. Before that
// date the time of day is subtracted, so -1.25 is 29 December 1899 06:00 (the sign belongs to
// the day, not to the time).
TDateTime toTDateTime(const QDateTime& localTime)
{
    if (!localTime.isValid())
        return 0;
    const qint64 days = kEpoch.daysTo(localTime.date());
    const double timeOfDay = localTime.time().msecsSinceStartOfDay() / kMsecsPerDay;
    return days >= 0 ? static_cast<double>(days) + timeOfDay : static_cast<double>(days) - timeOfDay;
}

QDateTime fromTDateTime(TDateTime value)
{
    if (!std::isfinite(value))
        return {};
    double wholeDays = std::trunc(value);
    qint64 msecs = std::llround(std::fabs(value - wholeDays) * kMsecsPerDay);
    if (msecs >= static_cast<qint64>(kMsecsPerDay)) {  // rounding reached the next midnight
        msecs -= static_cast<qint64>(kMsecsPerDay);
        wholeDays += value < 0 ? -1 : 1;
    }
    if (std::fabs(wholeDays) > 3'000'000.0)  // beyond year 10000 either way: not a date
        return {};
    const QDate date = kEpoch.addDays(static_cast<qint64>(wholeDays));
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
    QDateTime result(date, time);  // naive local time
    if (!result.isValid())         // a time inside a daylight-saving gap: moved forward by the gap
        result = date.startOfDay().addMSecs(msecs);
    return result;
}

}  // namespace krp::types
