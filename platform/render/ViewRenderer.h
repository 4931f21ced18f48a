#pragma once

#include <cairo.h>

#include "platform/render/Layout.h"
#include "platform/render/PangoTextEngine.h"
#include "platform/render/View.h"

namespace platform::render {

// Lays a view tree out in a container and draws it with Cairo and Pango. Keeps its
// text engine (fonts, Pango context) from one drawing to the next; one per thread.
class ViewRenderer {
 public:
  // Draws the view into the container's rectangle at Cairo's current origin; the
  // container background is the caller's to draw.
  void render(cairo_t* cairo, const View& view, Size container);
  // The layout alone, for callers that look at geometry.
  LaidOutView layout(const View& view, Size container);

 private:
  void paint(cairo_t* cairo, const LaidOutView& placed);

  PangoTextEngine text_;
};

}  // namespace platform::render
