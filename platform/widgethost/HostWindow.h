#pragma once

#include <gtk/gtk.h>

#include "platform/gobject/ObjectRef.h"
#include "platform/widgethost/HomeScreen.h"
#include "platform/widgethost/LiveTimelines.h"
#include "platform/widgethost/TilePainter.h"

namespace platform::widgethost {

// The host's window: the placed widgets' tiles on a dark desktop-like backdrop, drawn
// from what their timelines show now. GTK main thread.
class HostWindow {
 public:
  explicit HostWindow(const LiveTimelines& timelines);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  void present();
  // Asks GTK to draw the tiles again at its next frame.
  void redraw();

  [[nodiscard]] GtkWindow* window() const { return window_.get(); }
  // How many times the tiles were drawn, for tests that wait for a frame.
  [[nodiscard]] int framesDrawn() const { return framesDrawn_; }

 private:
  static void draw(GtkDrawingArea* area, cairo_t* cairo, int width, int height, gpointer self);
  void paint(cairo_t* cairo, int width, int height);

  const LiveTimelines& timelines_;
  HomeScreen screen_;
  TilePainter painter_;
  gobject::ObjectRef<GtkWindow> window_;
  GtkWidget* area_ = nullptr;  // owned by the window
  int framesDrawn_ = 0;
};

}  // namespace platform::widgethost
