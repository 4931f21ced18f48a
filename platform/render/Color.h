#pragma once

namespace platform::render {

// An sRGB colour with components from 0 to 1.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double opacity = 1;

  // Components as whole numbers out of 255, each exactly n/255, fully opaque.
  static constexpr Color sRGB8(int red, int green, int blue) {
    return {red / 255.0, green / 255.0, blue / 255.0, 1.0};
  }

  friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace platform::render
