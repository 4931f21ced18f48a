#pragma once

#include <string>

#include "platform/render/View.h"
#include "widgets/StatsEntry.h"

namespace widgets {

// The streak widget's view of one entry: the current streak as a large figure with
// its unit, and the best streak on a line at the bottom.
struct StreakWidgetView {
  StatsEntry entry;

  [[nodiscard]] platform::render::View body() const;
};

// "day" for exactly one, "days" for every other count; localized.
std::string streakUnitText(std::int64_t streakDays);

}  // namespace widgets
