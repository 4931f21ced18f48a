#include "platform/widgethost/FrameCoalescer.h"

#include "platform/dispatch/Guarded.h"

namespace platform::widgethost {

FrameCoalescer::FrameCoalescer(GtkWidget* widget, std::function<void()> action)
    : widget_(widget), action_(std::move(action)) {}

FrameCoalescer::~FrameCoalescer() {
  if (tick_ != 0) gtk_widget_remove_tick_callback(widget_, tick_);
}

void FrameCoalescer::request() {
  if (tick_ == 0) tick_ = gtk_widget_add_tick_callback(widget_, &FrameCoalescer::onTick, this, nullptr);
}

gboolean FrameCoalescer::onTick(GtkWidget* /*widget*/, GdkFrameClock* /*clock*/, gpointer self) {
  auto* coalescer = static_cast<FrameCoalescer*>(self);
  // Cleared first: a request the action itself makes waits for the next frame.
  coalescer->tick_ = 0;
  // An action that fails runs again on the next request.
  platform::dispatch::runGuarded([coalescer] { coalescer->action_(); });
  return G_SOURCE_REMOVE;
}

}  // namespace platform::widgethost
