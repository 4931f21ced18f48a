#include "platform/widgethost/TimelineSchedule.h"

#include <algorithm>

namespace platform::widgethost {

std::optional<std::size_t> TimelineSchedule::entryDue(const ViewTimeline& timeline, Date now) {
  if (timeline.entries.empty()) return std::nullopt;
  std::size_t due = 0;
  for (std::size_t i = 0; i < timeline.entries.size(); ++i) {
    if (timeline.entries[i].date <= now) due = i;
  }
  return due;
}

Date TimelineSchedule::nextChange(const ViewTimeline& timeline, Date now) {
  Date next = timeline.policy.date;
  for (const EntryView& entry : timeline.entries) {
    if (entry.date > now) next = std::min(next, entry.date);
  }
  return next;
}

}  // namespace platform::widgethost
