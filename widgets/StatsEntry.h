#pragma once

#include "widgets/WidgetStats.h"

namespace widgets {

// One timeline entry: the statistics to show from `date` on.
struct StatsEntry {
  Date date;
  WidgetStats stats;
};

}  // namespace widgets
