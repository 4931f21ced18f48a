#include "platform/widgethost/StaticConfiguration.h"

namespace platform::widgethost {

StaticConfiguration StaticConfiguration::configurationDisplayName(std::string name) && {
  displayName_ = std::move(name);
  return std::move(*this);
}

StaticConfiguration StaticConfiguration::description(std::string text) && {
  description_ = std::move(text);
  return std::move(*this);
}

StaticConfiguration StaticConfiguration::supportedFamilies(std::vector<WidgetFamily> families) && {
  families_ = std::move(families);
  return std::move(*this);
}

}  // namespace platform::widgethost
