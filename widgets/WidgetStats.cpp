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
  namespace keys = shared::keys;
  const auto store = shared::SharedStore::open();
  if (!store) return placeholder();
  const auto record = store->read(
      {keys::kVoiceSeconds, keys::kStreakDays, keys::kBestStreak, keys::kUsername, keys::kStatsUpdatedAt});
  WidgetStats stats;
  stats.voiceSeconds = record.integer(keys::kVoiceSeconds);
  stats.streakDays = record.integer(keys::kStreakDays);
  stats.bestStreak = record.integer(keys::kBestStreak);
  stats.username = record.string(keys::kUsername).value_or("");
  stats.updatedAt = platform::widgethost::dateFromSecondsSince1970(record.doubleValue(keys::kStatsUpdatedAt));
  return stats;
}

}  // namespace widgets
