#pragma once

#include <chrono>

namespace platform::widgethost {

// A point in time as seconds since 1970-01-01 00:00 UTC in a double, like the stored
// timestamps: any stored value, fractions and far-off years included, fits as it is.
using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

inline Date dateFromSecondsSince1970(double seconds) { return Date(std::chrono::duration<double>(seconds)); }
inline double secondsSince1970(Date date) { return date.time_since_epoch().count(); }

}  // namespace platform::widgethost
