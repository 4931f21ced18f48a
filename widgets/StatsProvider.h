#pragma once

#include "platform/widgethost/Calendar.h"
#include "platform/widgethost/Clock.h"
#include "platform/widgethost/TimelineProvider.h"
#include "widgets/StatsEntry.h"

namespace widgets {

// The timeline provider of both widgets. Keeps no state between calls; each call reads
// what it needs afresh and completes exactly once, on the calling thread, before it
// returns. Any thread. The clock and calendar it is given must outlive it.
class StatsProvider final : public platform::widgethost::TimelineProvider<StatsEntry> {
 public:
  using Context = platform::widgethost::TimelineProviderContext;

  explicit StatsProvider(
      const platform::widgethost::Clock& clock = platform::widgethost::Clock::system(),
      const platform::widgethost::Calendar& calendar = platform::widgethost::Calendar::current());

  // Now, with the placeholder record; never reads the store.
  [[nodiscard]] StatsEntry placeholder(const Context& context) const override;
  // Now, with the placeholder in the gallery's preview and the stored record otherwise.
  void getSnapshot(const Context& context, const std::function<void(StatsEntry)>& completion) const override;
  // One entry for now with the stored record, to be asked again one calendar hour
  // later (3600 s later when the calendar cannot say).
  void getTimeline(
      const Context& context,
      const std::function<void(platform::widgethost::Timeline<StatsEntry>)>& completion) const override;

 private:
  const platform::widgethost::Clock& clock_;
  const platform::widgethost::Calendar& calendar_;
};

}  // namespace widgets
