#include "platform/widgethost/HomeScreen.h"

#include <algorithm>

namespace platform::widgethost {

HomeScreen HomeScreen::arrange(const std::vector<render::Size>& tileSizes) {
  HomeScreen screen;
  double x = margin;
  double y = margin;
  double rowHeight = 0;
  double widest = 0;
  for (const render::Size& tile : tileSizes) {
    if (x > margin && x + tile.width > margin + rowWidth) {
      x = margin;
      y += rowHeight + gap;
      rowHeight = 0;
    }
    screen.tiles.push_back({x, y, tile.width, tile.height});
    x += tile.width + gap;
    rowHeight = std::max(rowHeight, tile.height);
    widest = std::max(widest, x - gap - margin);
  }
  screen.size = {widest + 2 * margin, y + rowHeight + margin};
  return screen;
}

}  // namespace platform::widgethost
