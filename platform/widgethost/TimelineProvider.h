#pragma once

#include <functional>

#include "platform/render/Geometry.h"
#include "platform/widgethost/Timeline.h"
#include "platform/widgethost/WidgetFamily.h"

namespace platform::widgethost {

// What the host tells a provider about the place it asks for.
struct TimelineProviderContext {
  WidgetFamily family = WidgetFamily::systemSmall;
  render::Size displaySize;
  bool isPreview = false;  // true for the widget gallery's sample pictures
};

// Supplies a widget's entries. The host calls it on its own thread and expects each
// completion exactly once.
template <TimelineEntry EntryType>
class TimelineProvider {
 public:
  using Entry = EntryType;
  virtual ~TimelineProvider() = default;

  // An entry to show at once, before any data is read.
  [[nodiscard]] virtual Entry placeholder(const TimelineProviderContext& context) const = 0;
  virtual void getSnapshot(const TimelineProviderContext& context,
                           const std::function<void(Entry)>& completion) const = 0;
  virtual void getTimeline(const TimelineProviderContext& context,
                           const std::function<void(Timeline<Entry>)>& completion) const = 0;
};

}  // namespace platform::widgethost
