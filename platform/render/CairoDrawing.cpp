#include "platform/render/CairoDrawing.h"

namespace platform::render {

void CairoDrawing::setColor(cairo_t* cairo, const Color& color) {
  cairo_set_source_rgba(cairo, color.red, color.green, color.blue, color.opacity);
}

void CairoDrawing::setPath(cairo_t* cairo, const Path& path) {
  cairo_new_path(cairo);
  for (const Path::Element& element : path.elements) {
    const auto& p = element.points;
    switch (element.verb) {
      case Path::Verb::moveTo:
        cairo_move_to(cairo, p[0].x, p[0].y);
        break;
      case Path::Verb::lineTo:
        cairo_line_to(cairo, p[0].x, p[0].y);
        break;
      case Path::Verb::curveTo:
        cairo_curve_to(cairo, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y);
        break;
      case Path::Verb::close:
        cairo_close_path(cairo);
        break;
    }
  }
  cairo_set_fill_rule(cairo, path.evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
}

void CairoDrawing::fill(cairo_t* cairo, const Path& path, const Color& color) {
  setPath(cairo, path);
  setColor(cairo, color);
  cairo_fill(cairo);
}

}  // namespace platform::render
