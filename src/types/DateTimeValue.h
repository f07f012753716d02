#pragma once
// Conversions between the day-count date-time of the transfer records and local QDateTime.
#include "UTyypit.h"
#include <QDateTime>

namespace krp::types {

TDateTime toTDateTime(const QDateTime& localTime);  // invalid -> 0
QDateTime fromTDateTime(TDateTime days);            // 0 -> 1899-12-30 00:00:00 local

}  // namespace krp::types
