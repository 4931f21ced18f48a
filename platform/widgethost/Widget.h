#pragma once

#include "platform/widgethost/StaticConfiguration.h"

namespace platform::widgethost {

// A widget the extension offers; its body declares it.
class Widget {
 public:
  virtual ~Widget() = default;
  [[nodiscard]] virtual StaticConfiguration body() const = 0;
};

}  // namespace platform::widgethost
