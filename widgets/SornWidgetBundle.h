#pragma once

#include "platform/widgethost/WidgetBundle.h"

namespace widgets {

// The widget extension's bundle: the streak widget, then the voice widget.
class SornWidgetBundle final : public platform::widgethost::WidgetBundle {
 public:
  [[nodiscard]] std::vector<std::unique_ptr<platform::widgethost::Widget>> body() const override;

  // The extension's entry: hands the bundle to the widget host (which only the
  // executable links).
  static void main() { platform::widgethost::runWidgetHost(SornWidgetBundle()); }
};

}  // namespace widgets
