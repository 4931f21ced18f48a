#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace platform::widgethost {

// Runs an action at most once per frame of a GTK widget however often it is asked for:
// request() marks it due and the widget's next frame runs it, before the frame is
// drawn. A widget that is not shown has no frames; what was asked for meanwhile runs at
// its first one. GTK main thread.
class FrameCoalescer {
 public:
  // The widget must outlive the coalescer.
  FrameCoalescer(GtkWidget* widget, std::function<void()> action);
  ~FrameCoalescer();
  FrameCoalescer(const FrameCoalescer&) = delete;
  FrameCoalescer& operator=(const FrameCoalescer&) = delete;

  void request();

 private:
  static gboolean onTick(GtkWidget* widget, GdkFrameClock* clock, gpointer self);

  GtkWidget* widget_;
  std::function<void()> action_;
  guint tick_ = 0;
};

}  // namespace platform::widgethost
