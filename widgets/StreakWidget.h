#pragma once

#include "platform/widgethost/Widget.h"

namespace widgets {

// The daily-streak widget, small only.
class StreakWidget final : public platform::widgethost::Widget {
 public:
  static constexpr const char* kind = "SornStreakWidget";
  [[nodiscard]] platform::widgethost::StaticConfiguration body() const override;
};

}  // namespace widgets
