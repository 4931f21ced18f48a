#include <cairo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libintl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <memory>
#include <string>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/PlacedWidget.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"
#include "widgets/StatsProvider.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"
#include "widgets/WidgetPalette.h"

namespace widgets {
namespace {

using platform::render::LaidOutView;
using platform::render::Rect;
using platform::widgethost::dateFromSecondsSince1970;
using platform::widgethost::secondsSince1970;
using platform::widgethost::Timeline;
using platform::widgethost::WidgetFamily;
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

void store(const testsupport::TempDataDir& dir, const StoredValues& values) {
  ASSERT_TRUE(shared::SharedStore::open());  // makes the suite
  const char* keys[] = {shared::keys::kVoiceSeconds, shared::keys::kStreakDays, shared::keys::kBestStreak,
                        shared::keys::kUsername, shared::keys::kStatsUpdatedAt};
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.suiteFile(shared::kSuiteName).c_str(), &db), SQLITE_OK);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == nullptr) continue;
    const std::string sql = std::string("INSERT OR REPLACE INTO entries(key, value) VALUES('") + keys[i] +
                            "', " + values[i] + ")";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_close(db);
}

void expectStats(const WidgetStats& stats, const WidgetStats& expected) {
  EXPECT_EQ(std::tie(stats.voiceSeconds, stats.streakDays, stats.bestStreak, stats.username),
            std::tie(expected.voiceSeconds, expected.streakDays, expected.bestStreak, expected.username));
  EXPECT_DOUBLE_EQ(secondsSince1970(stats.updatedAt), secondsSince1970(expected.updatedAt));
}

TEST(WidgetStats, RecordAndTimelineFromARealStore) {
  const auto at = dateFromSecondsSince1970;
  const WidgetStats zero{0, 0, 0, "", at(0)}, placeholder = WidgetStats::placeholder();
  enum class Setup { store, unavailable, preview };
  const std::vector<std::tuple<Setup, StoredValues, WidgetStats>> cases = {
      {Setup::store, {}, zero},
      {Setup::unavailable, {}, placeholder},
      {Setup::preview, {"60", "1", "2", "'ann'", "5.0"}, placeholder},  // stored data ignored
      {Setup::preview, {}, placeholder},
      {Setup::store, {"5400", "1", "30", "'ann'", "1700000000.5"}, {5400, 1, 30, "ann", at(1700000000.5)}},
      {Setup::store, {"-61", "-3", "-1", "'neg'", "-12.25"}, {-61, -3, -1, "neg", at(-12.25)}},
      {Setup::store, {"1", "2", "3", nullptr, "4.0"}, {1, 2, 3, "", at(4)}},
      {Setup::store,
       {"-9223372036854775808", "9223372036854775807", "0", "''", "1e300"},
       {kMin, kMax, 0, "", at(1e300)}},
      {Setup::store, {"'3600'", "2.5", "X'00ff'", "42", "'yesterday'"}, zero},  // other types read as missing
      {Setup::store, {"NULL", "NULL", "NULL", "NULL", "NULL"}, zero},
  };
  expectStats(placeholder, {18240, 7, 21, "you", placeholder.updatedAt});
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& [setup, stored, expected] = cases[i];
    const testsupport::TempDataDir dir;
    const auto suiteFile = dir.suiteFile(shared::kSuiteName);
    if (setup == Setup::unavailable) {
      // A suite folder others can read is not private: the suite refuses to open.
      std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
      chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);
      ASSERT_FALSE(shared::SharedStore::open());
    } else if (stored[0] != nullptr) {
      store(dir, stored);
    }
    const SteppingClock clock;
    const FixedCalendar calendar(7.0);
    const StatsProvider provider(clock, calendar);
    const platform::widgethost::TimelineProviderContext context{
        WidgetFamily::systemSmall, {170, 170}, setup == Setup::preview};
    expectStats(provider.placeholder(context).stats, placeholder);  // never reads the store
    int calls = 0;
    provider.getSnapshot(context, [&](StatsEntry entry) {
      ++calls;
      EXPECT_DOUBLE_EQ(secondsSince1970(entry.date), 1001.0);
      expectStats(entry.stats, expected);
    });
    if (setup == Setup::preview) {
      // The placeholder and the gallery's preview never open the store, so never create it.
      EXPECT_EQ(std::filesystem::exists(suiteFile), stored[0] != nullptr);
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
    expectStats(WidgetStats::load(), expected);
  }
  // A calendar that cannot add an hour: 3600 s after a fresh clock read.
  const testsupport::TempDataDir dir;
  StatsProvider(SteppingClock(), FixedCalendar(std::nullopt))
      .getTimeline({}, [](Timeline<StatsEntry> timeline) {
        EXPECT_NEAR(secondsSince1970(timeline.policy.date), 1001.5 + 3600, 0.5 + 1e-9);
      });
}

std::string voiceText(std::int64_t seconds) { return voiceTimeText({seconds, 0, 0, "", {}}); }

TEST(WidgetTexts, VoiceTimeHoursFromOneHourMinutesBelow) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0m"},      {59, "0m"},      {60, "1m"}, {3599, "59m"}, {3600, "1.0h"},  {4500, "1.2h"},
      {5400, "1.5h"}, {18240, "5.1h"}, {-1, "0m"}, {-61, "-1m"},  {-7200, "-120m"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(voiceText(seconds), text) << seconds;
  EXPECT_EQ(voiceText(kMin), "-153722867280912930m");
  EXPECT_EQ(voiceText(kMax), "2562047788015215.5h");
}

// Every text of a laid-out view, in drawing order.
std::vector<std::string> textsOf(const LaidOutView& view, std::vector<std::string> texts = {}) {
  if (const auto* text = std::get_if<platform::render::Text>(view.node)) texts.push_back(text->content);
  for (const LaidOutView& child : view.children) texts = textsOf(child, std::move(texts));
  return texts;
}

// A number punctuation with a decimal comma, as German or French use.
struct CommaPunctuation : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(WidgetTexts, DecimalCommaLocalesAndTranslations) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunctuation));
  EXPECT_EQ(voiceText(5400), "1.5h");
  EXPECT_EQ(voiceText(1234567), "342.9h");
  std::locale::global(saved);

  const testsupport::GermanLocale german;
  ASSERT_TRUE(german.usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  std::array<char, 16> printed{};
  std::snprintf(printed.data(), printed.size(), "%.1f", 1.5);
  EXPECT_STREQ(printed.data(), "1,5") << "the locale really writes a decimal comma";
  // The figures keep their point; texts, units and plurals are the German ones.
  EXPECT_EQ(voiceText(18240), "5.1 h");
  EXPECT_EQ(voiceText(120), "2 min");
  EXPECT_EQ((std::vector{streakUnitText(1), streakUnitText(2), streakUnitText(0), streakUnitText(-1)}),
            (std::vector<std::string>{"Tag", "Tage", "Tage", "Tage"}));
  platform::render::ViewRenderer renderer;
  const auto small = platform::widgethost::displaySize(WidgetFamily::systemSmall);
  EXPECT_EQ(textsOf(renderer.layout(StreakWidgetView{{{}, {0, 7, 21, "", {}}}}.body(), small)),
            (std::vector<std::string>{"SERIE", "7", "Tage", "Rekord 21"}));
  EXPECT_EQ(textsOf(renderer.layout(VoiceWidgetView{{{}, {60, 1, -1, "", {}}}}.body(), small)),
            (std::vector<std::string>{"SPRACHZEIT", "1 min", "Serie", "1 T", "Rekord", "-1 T"}));

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
  EXPECT_EQ(textsOf(renderer.layout(StreakWidgetView{{{}, {0, 7, 21, "", {}}}}.body(), small)),
            (std::vector<std::string>{"STREAK", "7", "days", "Rekord: 21 (100%)"}));
}

constexpr double kTolerance = 1e-6;

Rect frameOf(const LaidOutView& root, const std::string& content) {
  const LaidOutView* found = platform::render::findText(root, content);
  if (found == nullptr) throw std::runtime_error("no text " + content);
  return found->frame;
}

// The content inside the widget's padding: container background, padding, frame.
const LaidOutView& paddedContent(const LaidOutView& root) { return root.children.at(0).children.at(0); }

// Texts in order, geometry rather than pixels, with ordinary, negative and extreme
// figures (which reach the views unchanged).
TEST(WidgetLayout, VoiceHeaderSpansPillsFollowInOrderPaddingFourteen) {
  platform::render::ViewRenderer renderer;
  for (const auto& [streak, best] : {std::pair{std::int64_t{7}, std::int64_t{21}}, {-3, -1}, {kMin, kMax}}) {
    for (WidgetFamily family : {WidgetFamily::systemSmall, WidgetFamily::systemMedium}) {
      SCOPED_TRACE(std::to_string(streak) + " " + std::to_string(static_cast<int>(family)));
      const auto size = platform::widgethost::displaySize(family);
      const auto view = VoiceWidgetView{{{}, {18240, streak, best, "", {}}}}.body();
      EXPECT_EQ(platform::render::containerBackgroundOf(view), WidgetPalette::background);
      const LaidOutView root = renderer.layout(view, size);
      const std::string s = std::to_string(streak) + "d", b = std::to_string(best) + "d";
      EXPECT_EQ(textsOf(root), (std::vector<std::string>{"VOICE TIME", "5.1h", "Streak", s, "Best", b}));
      const Rect content = paddedContent(root).frame;
      EXPECT_THAT(
          (std::array{content.x, content.y, size.width - content.maxX(), size.height - content.maxY()}),
          testing::Each(testing::DoubleNear(14, kTolerance)));
      const LaidOutView& stack = paddedContent(root).children.at(0);
      const Rect header = stack.children.at(0).frame;
      EXPECT_NEAR(header.width, size.width - 28, kTolerance) << "the header row spans the width";
      // Left-aligned: symbol, title, figure and pills start at the leading edge, top to bottom.
      const Rect symbol = stack.children.at(0).children.at(0).frame;
      const Rect figure = frameOf(root, "5.1h");
      EXPECT_NEAR(symbol.x, 14, kTolerance);
      EXPECT_NEAR(frameOf(root, "VOICE TIME").x, symbol.maxX() + 5, kTolerance);
      EXPECT_NEAR(figure.x, 14, kTolerance);
      EXPECT_NEAR(figure.y, header.maxY() + 8, kTolerance);
      const LaidOutView& pills = stack.children.at(2);
      const Rect firstPill = pills.children.at(0).frame;
      const Rect streakLabel = frameOf(root, "Streak"), bestLabel = frameOf(root, "Best");
      EXPECT_NEAR(pills.frame.y, figure.maxY() + 8, kTolerance);
      EXPECT_NEAR(pills.frame.x, 14, kTolerance);
      // Inside a pill: 9 points from its sides, 5 from its top, value 1 point under label.
      EXPECT_NEAR(streakLabel.x, 14 + 9, kTolerance);
      EXPECT_NEAR(streakLabel.y, pills.frame.y + 5, 0.5);
      EXPECT_NEAR(frameOf(root, s).y, streakLabel.maxY() + 1, kTolerance);
      EXPECT_NEAR(pills.children.at(1).frame.x, firstPill.maxX() + 10, kTolerance);
      EXPECT_NEAR(bestLabel.x, firstPill.maxX() + 10 + 9, kTolerance);
      EXPECT_NEAR(frameOf(root, b).x, bestLabel.x, kTolerance);
      EXPECT_LT(pills.frame.maxY(), size.height - 14);
    }
  }
}

TEST(WidgetLayout, StreakBestLineOnTheBottomEdgeWhateverTheFigurePaddingFourteen) {
  platform::render::ViewRenderer renderer;
  const auto size = platform::widgethost::displaySize(WidgetFamily::systemSmall);
  const std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> cases = {
      {1, 1, "day"},       {7, 21, "days"},    {0, 0, "days"},
      {12345, -1, "days"}, {-3, kMax, "days"}, {kMin, 21, "days"}};
  for (const auto& [streak, best, unit] : cases) {
    SCOPED_TRACE(streak);
    const auto view = StreakWidgetView{{{}, {0, streak, best, "", {}}}}.body();
    EXPECT_EQ(platform::render::containerBackgroundOf(view), WidgetPalette::background);
    const LaidOutView root = renderer.layout(view, size);
    const std::string figureText = std::to_string(streak), bestText = "Best " + std::to_string(best);
    EXPECT_EQ(textsOf(root), (std::vector<std::string>{"STREAK", figureText, unit, bestText}));
    const Rect content = paddedContent(root).frame;
    EXPECT_THAT((std::array{content.x, content.y, size.width - content.maxX(), size.height - content.maxY()}),
                testing::Each(testing::DoubleNear(14, kTolerance)));
    const Rect bestLine = frameOf(root, bestText);
    EXPECT_NEAR(bestLine.maxY(), size.height - 14, kTolerance);
    EXPECT_NEAR(bestLine.x, 14, kTolerance);
    // The figure stays inside the padded area, wrapping and cut off if it must.
    const Rect figure = frameOf(root, figureText);
    EXPECT_GE(figure.x, 14 - kTolerance);
    EXPECT_LE(figure.maxX(), size.width - 14 + kTolerance);
    const Rect unitFrame = frameOf(root, unit);
    EXPECT_NEAR(unitFrame.y, figure.maxY() + 6, kTolerance);
    EXPECT_LE(unitFrame.maxY(), bestLine.y);
  }
}

// Compares a PNG file with its reference: the mean difference per channel (0..255)
// stays under 0.5, and at most 0.2 % of the pixels have a channel more than 48 apart.
void expectLooksLike(const std::filesystem::path& actualFile, const std::filesystem::path& referenceFile) {
  SCOPED_TRACE(referenceFile.filename());
  using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
  Surface actual(cairo_image_surface_create_from_png(actualFile.c_str()), &cairo_surface_destroy);
  Surface reference(cairo_image_surface_create_from_png(referenceFile.c_str()), &cairo_surface_destroy);
  ASSERT_EQ(cairo_surface_status(actual.get()), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS);
  const int width = cairo_image_surface_get_width(reference.get());
  const int height = cairo_image_surface_get_height(reference.get());
  ASSERT_EQ(
      std::pair(cairo_image_surface_get_width(actual.get()), cairo_image_surface_get_height(actual.get())),
      std::pair(width, height));
  const unsigned char* a = cairo_image_surface_get_data(actual.get());
  const unsigned char* r = cairo_image_surface_get_data(reference.get());
  const int strideA = cairo_image_surface_get_stride(actual.get());
  const int strideR = cairo_image_surface_get_stride(reference.get());
  double total = 0;
  int off = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int worst = 0;
      for (int channel = 0; channel < 4; ++channel) {
        const int delta = std::abs(a[y * strideA + x * 4 + channel] - r[y * strideR + x * 4 + channel]);
        total += delta;
        worst = std::max(worst, delta);
      }
      off += worst > 48 ? 1 : 0;
    }
  }
  const double pixels = static_cast<double>(width) * height;
  EXPECT_LT(total / (pixels * 4), 0.5);
  EXPECT_LT(off / pixels, 0.002);
}

// The three placed widgets for the placeholder record, from the gallery's previews and
// from fresh timelines when no suite can be opened.
TEST(WidgetPixels, PlaceholderSnapshotsMatchTheReferenceImages) {
  for (bool preview : {true, false}) {
    SCOPED_TRACE(preview ? "gallery" : "timeline");
    const testsupport::TempDataDir dir;
    std::filesystem::create_directories(dir.suiteFolder(shared::kSuiteName));
    chmod(dir.suiteFolder(shared::kSuiteName).c_str(), 0755);  // not private: refuses to open
    const auto out = dir.root() / "out";
    const auto placed = platform::widgethost::placeWidgets(SornWidgetBundle());
    const auto error = platform::widgethost::SnapshotWriter().writeAll(placed, preview, out);
    ASSERT_FALSE(error) << *error;
    for (const char* name : {"SornStreakWidget-systemSmall.png", "SornVoiceWidget-systemSmall.png",
                             "SornVoiceWidget-systemMedium.png"}) {
      expectLooksLike(out / name, std::filesystem::path(SORN_WIDGETS_REFERENCE_DIR) / name);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()),
              3);
  }
}

}  // namespace
}  // namespace widgets
