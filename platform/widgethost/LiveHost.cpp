#include "platform/widgethost/LiveHost.h"

namespace platform::widgethost {

LiveHost::LiveHost(std::vector<PlacedWidget> placed, const Clock& clock)
    : timelines_(std::move(placed), clock,
                 [this] {
                   if (shown_ != nullptr) shown_->redraw();
                 }),
      window_(timelines_),
      reloads_(GTK_WIDGET(window_.window()), [this] { timelines_.reloadAll(); }),
      listener_([this] { reloads_.request(); }) {
  shown_ = &window_;
}

}  // namespace platform::widgethost
