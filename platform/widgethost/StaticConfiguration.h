#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/render/View.h"
#include "platform/widgethost/TimelineProvider.h"
#include "platform/widgethost/WidgetFamily.h"

namespace platform::widgethost {

// One entry of a timeline turned into the view that shows it.
struct EntryView {
  Date date;
  render::View view;
};

struct ViewTimeline {
  std::vector<EntryView> entries;
  TimelineReloadPolicy policy;
};

// A widget's declaration: its kind, the provider of its entries, the view of an entry,
// and what the widget gallery says about it. Built once, then only read; the host uses
// it on its own thread. A provider may complete after it returned: the completions it
// is handed own what they use.
class StaticConfiguration {
 public:
  template <typename Provider, typename Content>
  StaticConfiguration(std::string kind, std::shared_ptr<const Provider> provider, Content content);

  // Settings, applied in the order they are written.
  [[nodiscard]] StaticConfiguration configurationDisplayName(std::string name) &&;
  [[nodiscard]] StaticConfiguration description(std::string text) &&;
  [[nodiscard]] StaticConfiguration supportedFamilies(std::vector<WidgetFamily> families) &&;

  [[nodiscard]] const std::string& kind() const { return kind_; }
  [[nodiscard]] const std::string& configurationDisplayName() const { return displayName_; }
  [[nodiscard]] const std::string& description() const { return description_; }
  // Every family unless the widget narrowed them.
  [[nodiscard]] const std::vector<WidgetFamily>& supportedFamilies() const { return families_; }

  // The provider's answers, each entry already turned into its view.
  [[nodiscard]] EntryView placeholder(const TimelineProviderContext& context) const {
    return placeholder_(context);
  }
  void getSnapshot(const TimelineProviderContext& context,
                   const std::function<void(EntryView)>& completion) const {
    snapshot_(context, completion);
  }
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(ViewTimeline)>& completion) const {
    timeline_(context, completion);
  }

 private:
  std::string kind_;
  std::string displayName_;
  std::string description_;
  std::vector<WidgetFamily> families_{WidgetFamily::systemSmall, WidgetFamily::systemMedium};
  std::function<EntryView(const TimelineProviderContext&)> placeholder_;
  std::function<void(const TimelineProviderContext&, const std::function<void(EntryView)>&)> snapshot_;
  std::function<void(const TimelineProviderContext&, const std::function<void(ViewTimeline)>&)> timeline_;
};

template <typename Provider, typename Content>
StaticConfiguration::StaticConfiguration(std::string kind, std::shared_ptr<const Provider> provider,
                                         Content content)
    : kind_(std::move(kind)) {
  using Entry = typename Provider::Entry;
  auto show = [content](const Entry& entry) { return EntryView{entry.date, render::View(content(entry))}; };
  placeholder_ = [provider, show](const TimelineProviderContext& context) {
    return show(provider->placeholder(context));
  };
  snapshot_ = [provider, show](const TimelineProviderContext& context,
                               const std::function<void(EntryView)>& completion) {
    provider->getSnapshot(context, [completion, show](Entry entry) { completion(show(entry)); });
  };
  timeline_ = [provider, show](const TimelineProviderContext& context,
                               const std::function<void(ViewTimeline)>& completion) {
    provider->getTimeline(context, [completion, show](Timeline<Entry> timeline) {
      ViewTimeline shown{{}, timeline.policy};
      shown.entries.reserve(timeline.entries.size());
      for (const Entry& entry : timeline.entries) shown.entries.push_back(show(entry));
      completion(std::move(shown));
    });
  };
}

}  // namespace platform::widgethost
