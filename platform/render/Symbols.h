#pragma once

#include <string_view>

#include "platform/render/Geometry.h"
#include "platform/render/Path.h"

namespace platform::render {

// The symbol images this renderer knows ("waveform", "flame.fill"), drawn as outlines
// of our own. An unknown name takes no space and draws nothing.
struct Symbols {
  // The box a symbol takes beside text of that point size.
  static Size size(std::string_view name, double pointSize);
  // Its outline filling `box`.
  static Path path(std::string_view name, const Rect& box);
};

}  // namespace platform::render
