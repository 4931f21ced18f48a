#include "bench/app/FrameTimes.h"

#include <algorithm>
#include <utility>

#include "bench/support/Median.h"
#include "platform/dispatch/Guarded.h"

namespace bench {

FrameTimes::FrameTimes(GtkWidget* widget) : widget_(widget), restartedAt_(g_get_monotonic_time()) {
  tick_ = gtk_widget_add_tick_callback(widget_, &FrameTimes::onTick, this, nullptr);
}

FrameTimes::~FrameTimes() { gtk_widget_remove_tick_callback(widget_, tick_); }

void FrameTimes::restart() {
  frames_.clear();
  restartedAt_ = g_get_monotonic_time();
}

std::chrono::microseconds FrameTimes::largestGapUntilNow() const {
  gint64 previous = restartedAt_;
  gint64 largest = 0;
  for (const gint64 frame : frames_) {
    largest = std::max(largest, frame - previous);
    previous = std::max(previous, frame);
  }
  return std::chrono::microseconds(std::max(largest, g_get_monotonic_time() - previous));
}

std::chrono::microseconds FrameTimes::medianInterval() const {
  std::vector<gint64> intervals;
  for (std::size_t i = 1; i < frames_.size(); ++i) intervals.push_back(frames_[i] - frames_[i - 1]);
  return std::chrono::microseconds(benchsupport::median(std::move(intervals)));
}

gboolean FrameTimes::onTick(GtkWidget* /*widget*/, GdkFrameClock* clock, gpointer self) {
  // A full vector cannot grow: the frame goes unnoted rather than unwinding into GTK.
  platform::dispatch::runGuarded(
      [&] { static_cast<FrameTimes*>(self)->frames_.push_back(gdk_frame_clock_get_frame_time(clock)); });
  return G_SOURCE_CONTINUE;
}

}  // namespace bench
