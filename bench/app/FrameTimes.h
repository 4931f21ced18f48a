#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <chrono>
#include <vector>

namespace bench {

// Keeps a widget's frame clock running with a tick callback and notes when each frame
// began, by the frame clock's own timestamps (microseconds, g_get_monotonic_time's
// clock). The widget must outlive it. GTK main thread.
class FrameTimes {
 public:
  explicit FrameTimes(GtkWidget* widget);
  ~FrameTimes();
  FrameTimes(const FrameTimes&) = delete;
  FrameTimes& operator=(const FrameTimes&) = delete;

  // Forgets the frames so far; what follows is counted from now.
  void restart();
  // The longest stretch without a frame since the restart: to the first frame, between
  // two frames, or from the last frame to now.
  [[nodiscard]] std::chrono::microseconds largestGapUntilNow() const;
  // The median time from one frame to the next since the restart; zero before two frames.
  [[nodiscard]] std::chrono::microseconds medianInterval() const;

 private:
  static gboolean onTick(GtkWidget* widget, GdkFrameClock* clock, gpointer self);

  GtkWidget* widget_;
  guint tick_ = 0;
  gint64 restartedAt_ = 0;
  std::vector<gint64> frames_;
};

}  // namespace bench
