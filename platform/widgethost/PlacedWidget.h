#pragma once

#include <string>
#include <vector>

#include "platform/widgethost/StaticConfiguration.h"
#include "platform/widgethost/WidgetBundle.h"

namespace platform::widgethost {

// One widget of the bundle placed in one of its families.
struct PlacedWidget {
  StaticConfiguration configuration;
  WidgetFamily family{};

  [[nodiscard]] TimelineProviderContext context(bool isPreview) const {
    return {family, displaySize(family), isPreview};
  }
  // "<kind>-<family>.png", e.g. "SornVoiceWidget-systemMedium.png".
  [[nodiscard]] std::string snapshotFileName() const;
};

// Every widget of the bundle in each of its families: bundle order first, then the
// order of the widget's families.
std::vector<PlacedWidget> placeWidgets(const WidgetBundle& bundle);

}  // namespace platform::widgethost
