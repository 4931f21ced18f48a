#pragma once

#include <optional>

#include "platform/widgethost/Date.h"

namespace platform::widgethost {

// Date arithmetic by the user's calendar and time zone. Any thread.
class Calendar {
 public:
  virtual ~Calendar() = default;
  // `hours` hours after `date` by the calendar, or nothing when the calendar cannot
  // represent the date or the result.
  [[nodiscard]] virtual std::optional<Date> dateByAddingHours(int hours, Date date) const = 0;

  // The Gregorian calendar in the process's local time zone (TZ).
  static const Calendar& current();
};

}  // namespace platform::widgethost
