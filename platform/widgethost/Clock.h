#pragma once

#include "platform/widgethost/Date.h"

namespace platform::widgethost {

// Where "now" comes from; tests put a clock of their own in its place. Any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  [[nodiscard]] virtual Date now() const = 0;

  // The system's wall clock.
  static const Clock& system();
};

}  // namespace platform::widgethost
