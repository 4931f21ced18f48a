#include "platform/widgethost/HostWindow.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Guarded.h"
#include "platform/text/Translation.h"

namespace platform::widgethost {
namespace {

std::vector<render::Size> tileSizes(const LiveTimelines& timelines) {
  std::vector<render::Size> sizes;
  for (const PlacedWidget& widget : timelines.placed()) sizes.push_back(displaySize(widget.family));
  return sizes;
}

// A dark wallpaper: deep blue at the top fading to near black.
void paintBackdrop(cairo_t* cairo, int width, int height) {
  cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, height);
  cairo_pattern_add_color_stop_rgb(gradient, 0, 0x1d / 255.0, 0x22 / 255.0, 0x3a / 255.0);
  cairo_pattern_add_color_stop_rgb(gradient, 1, 0x0b / 255.0, 0x0c / 255.0, 0x12 / 255.0);
  cairo_set_source(cairo, gradient);
  cairo_rectangle(cairo, 0, 0, width, height);
  cairo_fill(cairo);
  cairo_pattern_destroy(gradient);
}

}  // namespace

HostWindow::HostWindow(const LiveTimelines& timelines)
    : timelines_(timelines),
      screen_(HomeScreen::arrange(tileSizes(timelines))),
      area_(gtk_drawing_area_new()) {
  // GTK keeps top-level windows alive itself; the reference here keeps ours until we
  // destroy it.
  window_ = gobject::ObjectRef<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
  gtk_window_set_title(window_.get(), _("Sorn Widgets"));
  const int width = static_cast<int>(std::ceil(screen_.size.width));
  const int height = static_cast<int>(std::ceil(screen_.size.height));
  gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(area_), width);
  gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(area_), height);
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area_), &HostWindow::draw, this, nullptr);
  gtk_window_set_child(window_.get(), area_);
  gtk_window_set_default_size(window_.get(), width, height);
}

HostWindow::~HostWindow() {
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(area_), nullptr, nullptr, nullptr);
  gtk_window_destroy(window_.get());
}

void HostWindow::present() { gtk_window_present(window_.get()); }

void HostWindow::redraw() { gtk_widget_queue_draw(area_); }

void HostWindow::draw(GtkDrawingArea* /*area*/, cairo_t* cairo, int width, int height, gpointer self) {
  // A frame that fails to draw is drawn again with the next.
  platform::dispatch::runGuarded([&] { static_cast<HostWindow*>(self)->paint(cairo, width, height); });
}

void HostWindow::paint(cairo_t* cairo, int width, int height) {
  paintBackdrop(cairo, width, height);
  const double left = std::max(0.0, (width - screen_.size.width) / 2);
  const double top = std::max(0.0, (height - screen_.size.height) / 2);
  cairo_translate(cairo, left, top);
  for (std::size_t i = 0; i < screen_.tiles.size(); ++i) {
    if (const render::View* view = timelines_.shownView(i)) painter_.paint(cairo, *view, screen_.tiles[i]);
  }
  ++framesDrawn_;
}

}  // namespace platform::widgethost
