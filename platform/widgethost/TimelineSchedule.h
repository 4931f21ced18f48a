#pragma once

#include <cstddef>
#include <optional>

#include "platform/widgethost/StaticConfiguration.h"

namespace platform::widgethost {

// Which entry of a timeline the host shows and when it has to look again.
struct TimelineSchedule {
  // The last entry dated at or before `now`; the first when all lie ahead; nothing
  // for an empty timeline.
  static std::optional<std::size_t> entryDue(const ViewTimeline& timeline, Date now);
  // The next moment something changes after `now`: the next entry's date or the
  // reload date, whichever comes first.
  static Date nextChange(const ViewTimeline& timeline, Date now);
  // Whether the provider is to be asked for a new timeline.
  static bool reloadDue(const ViewTimeline& timeline, Date now) { return now >= timeline.policy.date; }
};

}  // namespace platform::widgethost
