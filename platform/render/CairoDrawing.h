#pragma once

#include <cairo.h>

#include "platform/render/Color.h"
#include "platform/render/Path.h"

namespace platform::render {

// Small bridges from the plain geometry types to Cairo calls.
struct CairoDrawing {
  static void setColor(cairo_t* cairo, const Color& color);
  // Replaces Cairo's current path with `path` and sets its fill rule.
  static void setPath(cairo_t* cairo, const Path& path);
  static void fill(cairo_t* cairo, const Path& path, const Color& color);
};

}  // namespace platform::render
