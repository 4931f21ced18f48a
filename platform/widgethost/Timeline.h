#pragma once

#include <concepts>
#include <vector>

#include "platform/widgethost/Date.h"

namespace platform::widgethost {

// When the host asks the provider for the next timeline.
struct TimelineReloadPolicy {
  Date date;

  // Ask again once `date` has passed.
  static TimelineReloadPolicy after(Date date) { return {date}; }
};

// What an entry needs: the moment from which it is shown.
template <typename Entry>
concept TimelineEntry = requires(const Entry& entry) {
  { entry.date } -> std::convertible_to<Date>;
};

// Entries in the order they are due, and when to ask for the next timeline.
template <TimelineEntry Entry>
struct Timeline {
  std::vector<Entry> entries;
  TimelineReloadPolicy policy;
};

}  // namespace platform::widgethost
