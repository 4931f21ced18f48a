#pragma once

#include <string>

#include "platform/render/View.h"
#include "widgets/StatsEntry.h"

namespace widgets {

// The voice widget's view of one entry: voice time large, the current and best streak
// in two pills beneath. The same layout serves every family.
struct VoiceWidgetView {
  StatsEntry entry;

  [[nodiscard]] platform::render::View body() const;
};

// "5.1h" from one hour on (one decimal, always a point), whole minutes below ("59m",
// "-1m"). Independent of the locale.
std::string voiceTimeText(const WidgetStats& stats);

// A label over a value in a rounded pill.
platform::render::View statPill(const std::string& label, const std::string& value);

}  // namespace widgets
