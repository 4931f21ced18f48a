#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"
#include "widgets/WidgetStats.h"

namespace widgets {
namespace {

using platform::widgethost::dateFromSecondsSince1970;
using platform::widgethost::secondsSince1970;
using platform::widgethost::Timeline;
using platform::widgethost::TimelineProviderContext;

// Gives 1000, 1001, 1002, ... one second later on every read.
class SteppingClock final : public platform::widgethost::Clock {
 public:
  [[nodiscard]] Date now() const override { return dateFromSecondsSince1970(1000.0 + reads_++); }

 private:
  mutable int reads_ = 0;
};

class FailingCalendar final : public platform::widgethost::Calendar {
 public:
  [[nodiscard]] std::optional<Date> dateByAddingHours(int, Date) const override { return std::nullopt; }
};

// Adds a fixed 7 s per hour, to tell the calendar's answer apart from the fallback.
class OddCalendar final : public platform::widgethost::Calendar {
 public:
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    return date + std::chrono::duration<double>(7.0 * hours);
  }
};

// Writes a raw value of any SQLite type straight into the suite file.
void writeRaw(const std::filesystem::path& file, const std::string& key, const std::string& valueSql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  const std::string sql =
      "INSERT OR REPLACE INTO entries(key, value) VALUES('" + key + "', " + valueSql + ")";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

struct Expected {
  std::int64_t voiceSeconds, streakDays, bestStreak;
  std::string username;
  std::optional<double> updatedAt;  // nothing: the placeholder's own time
};

struct Case {
  std::string name;
  std::function<void(const testsupport::TempDataDir&)> prepare;
  bool preview;
  Expected expected;
};

const Expected kPlaceholder{18240, 7, 21, "you", std::nullopt};

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best,
                const std::optional<std::string>& name, double updatedAt) {
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->setInteger(shared::keys::kVoiceSeconds, voice);
  store->setInteger(shared::keys::kStreakDays, streak);
  store->setInteger(shared::keys::kBestStreak, best);
  if (name) store->setString(shared::keys::kUsername, *name);
  store->setDouble(shared::keys::kStatsUpdatedAt, updatedAt);
}

void expectStats(const WidgetStats& stats, const Expected& expected, const std::string& name) {
  EXPECT_EQ(stats.voiceSeconds, expected.voiceSeconds) << name;
  EXPECT_EQ(stats.streakDays, expected.streakDays) << name;
  EXPECT_EQ(stats.bestStreak, expected.bestStreak) << name;
  EXPECT_EQ(stats.username, expected.username) << name;
  const double updatedAt = secondsSince1970(stats.updatedAt);
  EXPECT_DOUBLE_EQ(updatedAt,
                   expected.updatedAt.value_or(secondsSince1970(WidgetStats::placeholder().updatedAt)))
      << name;
}

TEST(WidgetStats, RecordAndTimelineFromARealStore) {
  const std::vector<Case> cases = {
      {"empty store",
       [](const auto&) { ASSERT_TRUE(shared::SharedStore::open()); },
       false,
       {0, 0, 0, "", 0.0}},
      {"unavailable suite",
       [](const testsupport::TempDataDir& dir) {
         // A suite folder others can read is not private: the suite refuses to open.
         std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
         chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);
         ASSERT_FALSE(shared::SharedStore::open());
       },
       false, kPlaceholder},
      {"preview ignores stored data", [](const auto&) { storeStats(60, 1, 2, "ann", 5.0); }, true,
       kPlaceholder},
      {"stored values",
       [](const auto&) { storeStats(5400, 1, 30, "ann", 1700000000.5); },
       false,
       {5400, 1, 30, "ann", 1700000000.5}},
      {"negative values",
       [](const auto&) { storeStats(-61, -3, -1, "neg", -12.25); },
       false,
       {-61, -3, -1, "neg", -12.25}},
      {"missing name",
       [](const auto&) { storeStats(1, 2, 3, std::nullopt, 4.0); },
       false,
       {1, 2, 3, "", 4.0}},
      {"extreme values",
       [](const auto&) {
         storeStats(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 0, "",
                    1e300);
       },
       false,
       {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 0, "", 1e300}},
      {"values of other types read as missing",
       [](const testsupport::TempDataDir& dir) {
         auto store = shared::SharedStore::open();
         ASSERT_TRUE(store);
         store->setString(shared::keys::kVoiceSeconds, "3600");
         store->setDouble(shared::keys::kStreakDays, 2.5);
         store->setInteger(shared::keys::kUsername, 42);
         store->setString(shared::keys::kStatsUpdatedAt, "yesterday");
         writeRaw(dir.suiteFile(shared::kSuiteName), shared::keys::kBestStreak, "X'00ff'");
       },
       false,
       {0, 0, 0, "", 0.0}},
      {"null values",
       [](const testsupport::TempDataDir& dir) {
         ASSERT_TRUE(shared::SharedStore::open());
         for (const char* key :
              {shared::keys::kVoiceSeconds, shared::keys::kUsername, shared::keys::kStatsUpdatedAt}) {
           writeRaw(dir.suiteFile(shared::kSuiteName), key, "NULL");
         }
       },
       false,
       {0, 0, 0, "", 0.0}},
  };

  for (const Case& c : cases) {
    const testsupport::TempDataDir dir;
    c.prepare(dir);
    const bool fileBefore = std::filesystem::exists(dir.suiteFile(shared::kSuiteName));
    const SteppingClock clock;
    const OddCalendar calendar;
    const StatsProvider provider(clock, calendar);
    const TimelineProviderContext context{
        platform::widgethost::WidgetFamily::systemSmall, {170, 170}, c.preview};

    int snapshots = 0;
    provider.getSnapshot(context, [&](StatsEntry entry) {
      ++snapshots;
      EXPECT_DOUBLE_EQ(secondsSince1970(entry.date), 1000.0) << c.name;
      expectStats(entry.stats, c.expected, c.name + " (snapshot)");
    });
    EXPECT_EQ(snapshots, 1) << c.name;
    if (c.preview) {
      // The gallery's preview never opens the store, so it never creates it either.
      EXPECT_EQ(std::filesystem::exists(dir.suiteFile(shared::kSuiteName)), fileBefore) << c.name;
      continue;
    }

    int timelines = 0;
    provider.getTimeline(context, [&](Timeline<StatsEntry> timeline) {
      ++timelines;
      ASSERT_EQ(timeline.entries.size(), 1U) << c.name;
      // The entry is dated at the call's first look at the clock; the reload date
      // comes from the calendar, applied to the clock read anew.
      EXPECT_DOUBLE_EQ(secondsSince1970(timeline.entries[0].date), 1001.0) << c.name;
      EXPECT_DOUBLE_EQ(secondsSince1970(timeline.policy.date), 1002.0 + 7.0) << c.name;
      expectStats(timeline.entries[0].stats, c.expected, c.name + " (timeline)");
    });
    EXPECT_EQ(timelines, 1) << c.name;
    expectStats(WidgetStats::load(), c.expected, c.name + " (load)");
  }
}

TEST(StatsProvider, PlaceholderAndCalendarFallback) {
  const testsupport::TempDataDir dir;
  storeStats(60, 1, 2, "ann", 5.0);
  const TimelineProviderContext context{platform::widgethost::WidgetFamily::systemMedium, {364, 170}, false};

  // A calendar that cannot add an hour: exactly 3600 s after the clock read anew.
  const SteppingClock clock;
  int calls = 0;
  StatsProvider(clock, FailingCalendar()).getTimeline(context, [&](Timeline<StatsEntry> timeline) {
    ++calls;
    EXPECT_DOUBLE_EQ(secondsSince1970(timeline.entries.at(0).date), 1000.0);
    EXPECT_DOUBLE_EQ(secondsSince1970(timeline.policy.date), 1002.0 + 3600.0);
  });
  EXPECT_EQ(calls, 1);

  // The system calendar: one hour later.
  const SteppingClock other;
  StatsProvider(other).getTimeline(context, [](Timeline<StatsEntry> timeline) {
    EXPECT_DOUBLE_EQ(secondsSince1970(timeline.policy.date), 1001.0 + 3600.0);
  });

  // The placeholder entry never reads the store; the placeholder record is made once.
  const StatsEntry placeholder = StatsProvider(clock).placeholder(context);
  EXPECT_EQ(placeholder.stats.voiceSeconds, 18240);
  EXPECT_EQ(placeholder.stats.username, "you");
  EXPECT_EQ(&WidgetStats::placeholder(), &WidgetStats::placeholder());
  EXPECT_LE(WidgetStats::placeholder().updatedAt, platform::widgethost::Clock::system().now());
}

}  // namespace
}  // namespace widgets
