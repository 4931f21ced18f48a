#include "platform/widgethost/TilePainter.h"

#include "platform/render/CairoDrawing.h"
#include "platform/render/Path.h"
#include "platform/widgethost/HomeScreen.h"

namespace platform::widgethost {

void TilePainter::paint(cairo_t* cairo, const render::View& view, const render::Rect& tile) {
  cairo_save(cairo);
  render::CairoDrawing::setPath(cairo, render::continuousRoundedRectangle(tile, HomeScreen::tileCornerRadius));
  cairo_clip_preserve(cairo);
  render::CairoDrawing::setColor(cairo, render::containerBackgroundOf(view).value_or(defaultBackground));
  cairo_fill(cairo);
  cairo_translate(cairo, tile.x, tile.y);
  renderer_.render(cairo, view, tile.size());
  cairo_restore(cairo);
}

}  // namespace platform::widgethost
