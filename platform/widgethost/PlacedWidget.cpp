#include "platform/widgethost/PlacedWidget.h"

namespace platform::widgethost {

std::string PlacedWidget::snapshotFileName() const {
  return configuration.kind() + "-" + std::string(familyName(family)) + ".png";
}

std::vector<PlacedWidget> placeWidgets(const WidgetBundle& bundle) {
  std::vector<PlacedWidget> placed;
  for (const auto& widget : bundle.body()) {
    StaticConfiguration configuration = widget->body();
    for (WidgetFamily family : configuration.supportedFamilies()) placed.push_back({configuration, family});
  }
  return placed;
}

}  // namespace platform::widgethost
