#include "platform/widgethost/LiveTimelines.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/dispatch/Guarded.h"
#include "platform/widgethost/TimelineSchedule.h"

namespace platform::widgethost {

LiveTimelines::LiveTimelines(std::vector<PlacedWidget> placed, const Clock& clock,
                             std::function<void()> changed)
    : placed_(std::move(placed)),
      clock_(clock),
      changed_(std::move(changed)),
      slots_(std::make_shared<std::vector<Slot>>(placed_.size())) {
  reloadAll();
}

LiveTimelines::~LiveTimelines() {
  if (timer_ != 0) g_source_remove(timer_);
}

const render::View* LiveTimelines::shownView(std::size_t index) const {
  const Slot& slot = (*slots_)[index];
  if (!slot.timeline || !slot.shown) return nullptr;
  return &slot.timeline->entries[*slot.shown].view;
}

void LiveTimelines::reloadAll() {
  for (std::size_t i = 0; i < slots_->size(); ++i) request(i);
  show();
}

void LiveTimelines::request(std::size_t index) {
  ++(*slots_)[index].requests;
  std::weak_ptr<std::vector<Slot>> slots = slots_;
  placed_[index].configuration.getTimeline(placed_[index].context(false),
                                           [slots, index](ViewTimeline timeline) {
                                             if (auto alive = slots.lock())
                                               (*alive)[index].timeline = std::move(timeline);
                                           });
}

// Shows the entry due now of every widget and waits for the next change.
void LiveTimelines::show() {
  const Date now = clock_.now();
  for (Slot& slot : *slots_) {
    slot.shown = slot.timeline ? TimelineSchedule::entryDue(*slot.timeline, now) : std::nullopt;
  }
  if (changed_) changed_();
  schedule();
}

void LiveTimelines::schedule() {
  if (timer_ != 0) g_source_remove(timer_);
  const Date now = clock_.now();
  std::optional<Date> next;
  for (const Slot& slot : *slots_) {
    if (!slot.timeline) continue;
    const Date change = TimelineSchedule::nextChange(*slot.timeline, now);
    next = next ? std::min(*next, change) : change;
  }
  double waitMs = longestWaitMs;
  if (next) waitMs = std::chrono::duration<double, std::milli>(*next - now).count();
  if (!(waitMs >= shortestWaitMs)) waitMs = shortestWaitMs;  // also when not a number
  waitMs = std::min<double>(waitMs, longestWaitMs);
  timer_ = g_timeout_add(static_cast<guint>(std::ceil(waitMs)), &LiveTimelines::onTimer, this);
}

gboolean LiveTimelines::onTimer(gpointer self) {
  auto* timelines = static_cast<LiveTimelines*>(self);
  timelines->timer_ = 0;
  // A failing provider must not take the main loop down; the next look tries again.
  platform::dispatch::runGuarded(
      [timelines] {
        const Date now = timelines->clock_.now();
        for (std::size_t i = 0; i < timelines->slots_->size(); ++i) {
          const Slot& slot = (*timelines->slots_)[i];
          if (!slot.timeline || TimelineSchedule::reloadDue(*slot.timeline, now)) timelines->request(i);
        }
        timelines->show();
      },
      [timelines] {
        if (timelines->timer_ == 0) timelines->schedule();
      });
  return G_SOURCE_REMOVE;
}

}  // namespace platform::widgethost
