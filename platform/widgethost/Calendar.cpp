#include "platform/widgethost/Calendar.h"

#include <cmath>
#include <ctime>
#include <limits>

namespace platform::widgethost {
namespace {

class LocalCalendar final : public Calendar {
 public:
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    const double seconds = secondsSince1970(date);
    const double whole = std::floor(seconds);
    // Outside time_t (or not a number at all) the calendar has no such date.
    if (!(whole >= static_cast<double>(std::numeric_limits<std::time_t>::min()) &&
          whole < static_cast<double>(std::numeric_limits<std::time_t>::max()))) {
      return std::nullopt;
    }
    const auto start = static_cast<std::time_t>(whole);
    std::tm local{};
    if (localtime_r(&start, &local) == nullptr) return std::nullopt;
    // The daylight-saving flag stays as it was, so the hour added is one elapsed hour
    // also across a change of the clocks: 01:30 before the clocks go back gives the
    // second 01:30, not 02:30 two hours later.
    local.tm_hour += hours;
    local.tm_wday = -1;  // mktime sets it on success; -1 is also a valid result time
    const std::time_t later = std::mktime(&local);
    if (local.tm_wday < 0) return std::nullopt;
    return dateFromSecondsSince1970(static_cast<double>(later) + (seconds - whole));
  }
};

}  // namespace

const Calendar& Calendar::current() {
  static const LocalCalendar calendar;
  return calendar;
}

}  // namespace platform::widgethost
