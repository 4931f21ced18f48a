#include <gtest/gtest.h>
#include <libintl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/RawSql.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"

namespace widgets {
namespace {

using platform::widgethost::dateFromSecondsSince1970;
using platform::widgethost::secondsSince1970;
using platform::widgethost::Timeline;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Gives 1000, 1001, 1002, ... one second later on every read.
class SteppingClock final : public platform::widgethost::Clock {
 public:
  [[nodiscard]] Date now() const override { return dateFromSecondsSince1970(1000.0 + reads_++); }

 private:
  mutable int reads_ = 0;
};

// Hours `secondsPerHour` long, to tell its answer from the fallback; or none at all.
class FixedCalendar final : public platform::widgethost::Calendar {
 public:
  explicit FixedCalendar(std::optional<double> secondsPerHour) : secondsPerHour_(secondsPerHour) {}
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    if (!secondsPerHour_) return std::nullopt;
    return date + std::chrono::duration<double>(*secondsPerHour_ * hours);
  }

 private:
  std::optional<double> secondsPerHour_;
};

// SQL values for voice, streak, best, name and date (nullptr: not stored), written
// straight into the suite file as the app or any tool may have left them.
using StoredValues = std::array<const char*, 5>;

void expectStats(const WidgetStats& stats, const WidgetStats& expected) {
  EXPECT_EQ(std::tie(stats.voiceSeconds, stats.streakDays, stats.bestStreak, stats.username),
            std::tie(expected.voiceSeconds, expected.streakDays, expected.bestStreak, expected.username));
  EXPECT_DOUBLE_EQ(secondsSince1970(stats.updatedAt), secondsSince1970(expected.updatedAt));
}

// The record as stored, whatever the values; the gallery's preview shows the placeholder
// and never opens the store. (Unopenable stores: SornWidgetsProgram.PicturesOfTheWidgets.)
TEST(WidgetStats, RecordAndTimelineFromARealStore) {
  const auto at = dateFromSecondsSince1970;
  const WidgetStats zero{0, 0, 0, "", at(0)}, placeholder = WidgetStats::placeholder();
  const std::vector<std::tuple<bool, StoredValues, WidgetStats>> cases = {
      {true, {}, placeholder},
      {false, {}, zero},
      {false, {"5400", "1", "30", "'ann'", "1700000000.5"}, {5400, 1, 30, "ann", at(1700000000.5)}},
      {false, {"-61", "-3", "-1", "'neg'", "-12.25"}, {-61, -3, -1, "neg", at(-12.25)}},
      {false, {"1", "2", "3", nullptr, "4.0"}, {1, 2, 3, "", at(4)}},
      {false,
       {"-9223372036854775808", "9223372036854775807", "0", "''", "1e300"},
       {kMin, kMax, 0, "", at(1e300)}},
      {false, {"'3600'", "2.5", "X'00ff'", "42", "'yesterday'"}, zero},  // other types read as missing
      {false, {"NULL", "NULL", "NULL", "NULL", "NULL"}, zero},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& [preview, stored, expected] = cases[i];
    const testsupport::TempDataDir dir;
    const auto suiteFile = dir.suiteFile(shared::kSuiteName);
    if (stored[0] != nullptr) {
      ASSERT_TRUE(shared::SharedStore::open());  // makes the suite
      const char* keys[] = {shared::keys::kVoiceSeconds, shared::keys::kStreakDays, shared::keys::kBestStreak,
                            shared::keys::kUsername, shared::keys::kStatsUpdatedAt};
      for (std::size_t k = 0; k < stored.size(); ++k) {
        if (stored[k] == nullptr) continue;
        EXPECT_EQ(testsupport::rawSql(suiteFile,
                                      std::string("INSERT OR REPLACE INTO entries(key, value) VALUES('") +
                                          keys[k] + "', " + stored[k] + ")"),
                  "<none>");
      }
    }
    const SteppingClock clock;
    const FixedCalendar calendar(7.0);
    const StatsProvider provider(clock, calendar);
    const platform::widgethost::TimelineProviderContext context{
        platform::widgethost::WidgetFamily::systemSmall, {170, 170}, preview};
    expectStats(provider.placeholder(context).stats, placeholder);  // never reads the store
    int calls = 0;
    provider.getSnapshot(context, [&](StatsEntry entry) {
      ++calls;
      EXPECT_DOUBLE_EQ(secondsSince1970(entry.date), 1001.0);
      expectStats(entry.stats, expected);
    });
    if (preview) {
      EXPECT_FALSE(std::filesystem::exists(suiteFile));
      EXPECT_EQ(calls, 1);
      continue;
    }
    provider.getTimeline(context, [&](Timeline<StatsEntry> timeline) {
      ++calls;
      ASSERT_EQ(timeline.entries.size(), 1U);
      // Dated at the call's first clock read; reloaded a calendar hour after a fresh read.
      EXPECT_DOUBLE_EQ(secondsSince1970(timeline.entries[0].date), 1002.0);
      EXPECT_DOUBLE_EQ(secondsSince1970(timeline.policy.date), 1003.0 + 7.0);
      expectStats(timeline.entries[0].stats, expected);
    });
    EXPECT_EQ(calls, 2);
  }
  // A calendar that cannot add an hour: 3600 s after a fresh clock read.
  const testsupport::TempDataDir dir;
  StatsProvider(SteppingClock(), FixedCalendar(std::nullopt))
      .getTimeline({}, [](Timeline<StatsEntry> timeline) {
        EXPECT_NEAR(secondsSince1970(timeline.policy.date), 1001.5 + 3600, 0.5 + 1e-9);
      });
}

std::string voiceText(std::int64_t seconds) { return voiceTimeText({seconds, 0, 0, "", {}}); }

// Every text of a widget's view laid out, in drawing order.
std::vector<std::string> textsOf(const platform::render::View& view) {
  std::vector<std::string> texts;
  const auto collect = [&texts](const platform::render::LaidOutView& laidOut, const auto& self) -> void {
    if (const auto* text = std::get_if<platform::render::Text>(laidOut.node)) texts.push_back(text->content);
    for (const auto& child : laidOut.children) self(child, self);
  };
  collect(platform::render::ViewRenderer().layout(view, {170, 170}), collect);
  return texts;
}

// A number punctuation with a decimal comma, as German or French use.
struct CommaPunctuation : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

// Voice time in hours from one hour, minutes below; the figures keep their point in every
// locale while the words, units and plurals are translated.
TEST(WidgetTexts, FiguresUnitsAndTranslations) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0m"},      {59, "0m"},      {60, "1m"}, {3599, "59m"}, {3600, "1.0h"},  {4500, "1.2h"},
      {5400, "1.5h"}, {18240, "5.1h"}, {-1, "0m"}, {-61, "-1m"},  {-7200, "-120m"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(voiceText(seconds), text) << seconds;
  EXPECT_EQ(voiceText(kMin), "-153722867280912930m");
  EXPECT_EQ(voiceText(kMax), "2562047788015215.5h");
  EXPECT_EQ((std::vector{streakUnitText(1), streakUnitText(2), streakUnitText(0), streakUnitText(-1)}),
            (std::vector<std::string>{"day", "days", "days", "days"}));
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunctuation));
  EXPECT_EQ(voiceText(1234567), "342.9h");
  std::locale::global(saved);

  const testsupport::GermanLocale german;
  ASSERT_TRUE(german.usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  std::array<char, 16> printed{};
  std::snprintf(printed.data(), printed.size(), "%.1f", 1.5);
  EXPECT_STREQ(printed.data(), "1,5") << "the locale really writes a decimal comma";
  EXPECT_EQ(voiceText(18240), "5.1 h");
  EXPECT_EQ(textsOf(StreakWidgetView{{{}, {0, 1, 21, "", {}}}}.body()),
            (std::vector<std::string>{"SERIE", "1", "Tag", "Rekord 21"}));
  EXPECT_EQ(textsOf(VoiceWidgetView{{{}, {60, 7, -1, "", {}}}}.body()),
            (std::vector<std::string>{"SPRACHZEIT", "1 min", "Serie", "7 T", "Rekord", "-1 T"}));

  // A translation keeps its number where it puts it, or is not used without one; nothing
  // in it ("%s%n") is ever handed to a formatting function.
  const testsupport::TempDataDir dir;
  const auto messages = dir.root() / "de" / "LC_MESSAGES";
  std::filesystem::create_directories(messages);
  std::ofstream(dir.root() / "de.po") << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                                      << "msgid \"Best %lld\"\nmsgstr \"Rekord: %1$lld (100%%)\"\n"
                                      << "msgid \"%lld\"\nmsgstr \"%s%n\"\n";
  const std::string compile =
      "msgfmt -o '" + (messages / "sorn.mo").string() + "' '" + (dir.root() / "de.po").string() + "'";
  ASSERT_EQ(std::system(compile.c_str()), 0) << "gettext (msgfmt) is a dependency";
  bindtextdomain(platform::text::kTextDomain, dir.root().c_str());
  EXPECT_EQ(textsOf(StreakWidgetView{{{}, {0, 7, 21, "", {}}}}.body()),
            (std::vector<std::string>{"STREAK", "7", "days", "Rekord: 21 (100%)"}));
}

}  // namespace
}  // namespace widgets
