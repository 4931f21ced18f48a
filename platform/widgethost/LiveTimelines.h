#pragma once

#include <glib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/widgethost/Clock.h"
#include "platform/widgethost/PlacedWidget.h"

namespace platform::widgethost {

// Keeps the timeline of every placed widget current on the GLib main thread: asks each
// provider for a timeline at once, shows the entry due now, asks again once the
// timeline's reload date has passed, and asks all of them at once on reloadAll().
// Calls `changed` after a widget's shown entry may have changed. Providers answer
// before they return; an answer that comes later is shown at the next look.
class LiveTimelines {
 public:
  // Never waits longer than this between two looks at the clock, so that a clock that
  // jumped (a suspended machine waking up) is noticed soon.
  static constexpr guint longestWaitMs = 60'000;
  // Never looks again sooner than this, so that a reload date in the past does not
  // make the host ask its providers in a tight loop.
  static constexpr guint shortestWaitMs = 1'000;

  LiveTimelines(std::vector<PlacedWidget> placed, const Clock& clock, std::function<void()> changed);
  ~LiveTimelines();
  LiveTimelines(const LiveTimelines&) = delete;
  LiveTimelines& operator=(const LiveTimelines&) = delete;

  void reloadAll();

  [[nodiscard]] const std::vector<PlacedWidget>& placed() const { return placed_; }
  // The view of the entry the widget shows now; nothing before its first entry.
  [[nodiscard]] const render::View* shownView(std::size_t index) const;
  // How often the widget's provider was asked for a timeline.
  [[nodiscard]] int timelineRequests(std::size_t index) const { return (*slots_)[index].requests; }

 private:
  struct Slot {
    std::optional<ViewTimeline> timeline;
    std::optional<std::size_t> shown;
    int requests = 0;
  };

  void request(std::size_t index);
  void show();
  void schedule();
  static gboolean onTimer(gpointer self);

  std::vector<PlacedWidget> placed_;
  const Clock& clock_;
  std::function<void()> changed_;
  // Shared with the completions handed to providers, so a late one finds it gone.
  std::shared_ptr<std::vector<Slot>> slots_;
  guint timer_ = 0;
};

}  // namespace platform::widgethost
