#include "platform/widgethost/WidgetFamily.h"

namespace platform::widgethost {

render::Size displaySize(WidgetFamily family) {
  return family == WidgetFamily::systemMedium ? render::Size{364, 170} : render::Size{170, 170};
}

std::string_view familyName(WidgetFamily family) {
  return family == WidgetFamily::systemMedium ? "systemMedium" : "systemSmall";
}

}  // namespace platform::widgethost
