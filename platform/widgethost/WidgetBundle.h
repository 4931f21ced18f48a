#pragma once

#include <memory>
#include <vector>

#include "platform/widgethost/Widget.h"

namespace platform::widgethost {

// The widgets an extension offers, in the order the host places them.
class WidgetBundle {
 public:
  virtual ~WidgetBundle() = default;
  [[nodiscard]] virtual std::vector<std::unique_ptr<Widget>> body() const = 0;
};

// The widget extension's entry, given the bundle: places its widgets and shows them in
// a window, or writes their snapshots, as the process's arguments ask. Returns when
// the host is done; ends the process with a non-zero status when it cannot do its job.
// Defined by the host (sorn::platform_widgethost_gtk).
void runWidgetHost(const WidgetBundle& bundle);

}  // namespace platform::widgethost
