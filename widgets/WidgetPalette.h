#pragma once

#include "platform/render/Color.h"

namespace widgets {

// The six colours of both widgets, exact sRGB n/255. Constants, fixed before any
// thread runs.
struct WidgetPalette {
  static constexpr platform::render::Color background = platform::render::Color::sRGB8(57, 58, 63);
  static constexpr platform::render::Color surface = platform::render::Color::sRGB8(68, 69, 74);
  static constexpr platform::render::Color accent = platform::render::Color::sRGB8(108, 99, 255);
  static constexpr platform::render::Color primaryText = platform::render::Color::sRGB8(236, 238, 245);
  static constexpr platform::render::Color secondaryText = platform::render::Color::sRGB8(153, 154, 160);
  static constexpr platform::render::Color mutedText = platform::render::Color::sRGB8(114, 117, 125);
};

}  // namespace widgets
