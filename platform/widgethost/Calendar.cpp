#include "platform/widgethost/Calendar.h"

#include <cmath>
#include <ctime>
#include <limits>

namespace platform::widgethost {
namespace {

// The local calendar can name the second: it fits time_t and localtime_r converts it.
bool hasLocalDate(double seconds) {
  const double whole = std::floor(seconds);
  if (!(whole >= static_cast<double>(std::numeric_limits<std::time_t>::min()) &&
        whole < static_cast<double>(std::numeric_limits<std::time_t>::max()))) {
    return false;  // also not a number
  }
  const auto time = static_cast<std::time_t>(whole);
  std::tm local{};
  return localtime_r(&time, &local) != nullptr;
}

class LocalCalendar final : public Calendar {
 public:
  // The zone is read once, before any thread uses the calendar; localtime_r then only
  // reads it (mktime would re-read TZ on every call).
  LocalCalendar() { tzset(); }

  // An hour of the calendar is an hour of elapsed time, also across a change of the
  // clocks: at 01:30 before the clocks go back, one hour later is the second 01:30,
  // and at 01:30 before they jump forward it is 03:30. Wall-clock arithmetic would
  // give two hours, or none, there.
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    const double start = secondsSince1970(date);
    const double later = start + 3600.0 * hours;
    if (!hasLocalDate(start) || !hasLocalDate(later)) return std::nullopt;
    return dateFromSecondsSince1970(later);
  }
};

}  // namespace

const Calendar& Calendar::current() {
  static const LocalCalendar calendar;
  return calendar;
}

}  // namespace platform::widgethost
