#pragma once

#include <cairo.h>

#include "platform/render/View.h"
#include "platform/render/ViewRenderer.h"

namespace platform::widgethost {

// Draws widget tiles with Cairo: the rounded tile filled with the view's container
// background, the view laid out inside and clipped to it. On the drawing thread.
class TilePainter {
 public:
  // Tiles whose view sets no container background get the system's dark grey.
  static constexpr render::Color defaultBackground = render::Color::sRGB8(28, 28, 30);

  void paint(cairo_t* cairo, const render::View& view, const render::Rect& tile);

 private:
  render::ViewRenderer renderer_;
};

}  // namespace platform::widgethost
