#include "widgets/StatsProvider.h"

#include <chrono>

namespace widgets {

using platform::widgethost::Timeline;
using platform::widgethost::TimelineReloadPolicy;

StatsProvider::StatsProvider(const platform::widgethost::Clock& clock,
                             const platform::widgethost::Calendar& calendar)
    : clock_(clock), calendar_(calendar) {}

StatsEntry StatsProvider::placeholder(const Context& /*context*/) const {
  return {clock_.now(), WidgetStats::placeholder()};
}

void StatsProvider::getSnapshot(const Context& context,
                                const std::function<void(StatsEntry)>& completion) const {
  const Date now = clock_.now();
  completion({now, context.isPreview ? WidgetStats::placeholder() : WidgetStats::load()});
}

void StatsProvider::getTimeline(const Context& /*context*/,
                                const std::function<void(Timeline<StatsEntry>)>& completion) const {
  const Date now = clock_.now();
  StatsEntry entry{now, WidgetStats::load()};
  std::optional<Date> refresh = calendar_.dateByAddingHours(1, clock_.now());
  if (!refresh) refresh = clock_.now() + std::chrono::duration<double>(3600);
  completion({{std::move(entry)}, TimelineReloadPolicy::after(*refresh)});
}

}  // namespace widgets
