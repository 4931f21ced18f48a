#include "widgets/WidgetStats.h"

#include "platform/widgethost/Clock.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace widgets {

const WidgetStats& WidgetStats::placeholder() {
  static const WidgetStats record{18240, 7, 21, "you", platform::widgethost::Clock::system().now()};
  return record;
}

WidgetStats WidgetStats::load() {
  const auto store = shared::SharedStore::open();
  if (!store) return placeholder();
  WidgetStats stats;
  stats.voiceSeconds = store->integer(shared::keys::kVoiceSeconds);
  stats.streakDays = store->integer(shared::keys::kStreakDays);
  stats.bestStreak = store->integer(shared::keys::kBestStreak);
  stats.username = store->string(shared::keys::kUsername).value_or("");
  stats.updatedAt =
      platform::widgethost::dateFromSecondsSince1970(store->doubleValue(shared::keys::kStatsUpdatedAt));
  return stats;
}

}  // namespace widgets
