#pragma once

#include <cairo.h>

#include <optional>

#include "platform/render/Layout.h"
#include "platform/render/PangoTextEngine.h"
#include "platform/render/View.h"

namespace platform::render {

// Lays a view tree out in a container and draws it with Cairo and Pango. Keeps its
// text engine (fonts, Pango context) from one drawing to the next; one per thread.
class ViewRenderer {
 public:
  // Draws the view into the container's rectangle at Cairo's current origin, clipped
  // to the container's shape when it has rounded corners; the container background is
  // the caller's to draw.
  void render(cairo_t* cairo, const View& view, Size container,
              std::optional<RoundedRectangle> shape = std::nullopt);
  // The layout alone, for callers that look at geometry.
  LaidOutView layout(const View& view, Size container);

 private:
  void paint(cairo_t* cairo, const LaidOutView& placed);
  void paintClipped(cairo_t* cairo, const LaidOutView& placed, double cornerRadius);

  PangoTextEngine text_;
};

}  // namespace platform::render
