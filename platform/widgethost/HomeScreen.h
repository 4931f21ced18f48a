#pragma once

#include <vector>

#include "platform/render/Geometry.h"

namespace platform::widgethost {

// Where the host's window puts the tiles: rows as wide as a medium tile, filled in
// order like a phone's home screen (two small tiles side by side, a medium one
// alone), with margins and gaps between them.
struct HomeScreen {
  static constexpr double margin = 24;
  static constexpr double gap = 24;
  static constexpr double rowWidth = 364;
  static constexpr double tileCornerRadius = 22;

  std::vector<render::Rect> tiles;
  render::Size size;

  static HomeScreen arrange(const std::vector<render::Size>& tileSizes);
};

}  // namespace platform::widgethost
