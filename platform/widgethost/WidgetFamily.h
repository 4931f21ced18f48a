#pragma once

#include <string_view>

#include "platform/render/Geometry.h"

namespace platform::widgethost {

// The sizes a widget can be placed in.
enum class WidgetFamily { systemSmall, systemMedium };

// The family's tile in points: small 170x170, medium 364x170.
render::Size displaySize(WidgetFamily family);
// "systemSmall", "systemMedium": the name in snapshot files and metadata.
std::string_view familyName(WidgetFamily family);

}  // namespace platform::widgethost
