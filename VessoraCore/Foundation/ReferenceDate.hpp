// Dates as stored in JSON: seconds since 2001-01-01 00:00:00 UTC, as a
// floating-point number with fractions.
#pragma once

#include <chrono>

namespace vessora {

using Date = std::chrono::system_clock::time_point;

namespace ReferenceDate {

// 2001-01-01 00:00:00 UTC in Unix seconds.
inline constexpr double unixOffset = 978307200.0;

double seconds(Date date);
Date date(double secondsSinceReference);

} // namespace ReferenceDate
} // namespace vessora
