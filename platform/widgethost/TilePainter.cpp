#include "platform/widgethost/TilePainter.h"

#include "platform/render/CairoDrawing.h"
#include "platform/render/Path.h"
#include "platform/widgethost/HomeScreen.h"

namespace platform::widgethost {

void TilePainter::paint(cairo_t* cairo, const render::View& view, const render::Rect& tile) {
  render::CairoDrawing::fill(cairo, render::continuousRoundedRectangle(tile, HomeScreen::tileCornerRadius),
                             render::containerBackgroundOf(view).value_or(defaultBackground));
  cairo_save(cairo);
  cairo_translate(cairo, tile.x, tile.y);
  renderer_.render(cairo, view, tile.size(), render::RoundedRectangle{HomeScreen::tileCornerRadius});
  cairo_restore(cairo);
}

}  // namespace platform::widgethost
