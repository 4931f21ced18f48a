#include <gtest/gtest.h>
#include <libintl.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "platform/render/Layout.h"
#include "platform/render/View.h"
#include "tests/support/TempDataDir.h"
#include "widgets/Localization.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"

namespace widgets {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

WidgetStats withVoice(std::int64_t seconds) {
  WidgetStats stats;
  stats.voiceSeconds = seconds;
  return stats;
}

// Every text of a view tree, in drawing order.
void collectTexts(const platform::render::View& view, std::vector<std::string>& texts) {
  using namespace platform::render;
  std::visit(
      [&texts](const auto& node) {
        using T = std::decay_t<decltype(node)>;
        if constexpr (std::is_same_v<T, Text>) {
          texts.push_back(node.content);
        } else if constexpr (requires { node.children; }) {
          for (const View& child : node.children) collectTexts(child, texts);
        } else if constexpr (requires { node.content.node(); }) {
          collectTexts(node.content, texts);
        }
      },
      static_cast<const Node::variant&>(view.node()));
}

std::vector<std::string> textsOf(const platform::render::View& view) {
  std::vector<std::string> texts;
  collectTexts(view, texts);
  return texts;
}

TEST(VoiceTimeText, HoursFromOneHourMinutesBelow) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0m"},
      {59, "0m"},
      {60, "1m"},
      {3599, "59m"},
      {3600, "1.0h"},
      {5400, "1.5h"},
      {18240, "5.1h"},
      {36000, "10.0h"},
      {-1, "0m"},
      {-61, "-1m"},
      {-7200, "-120m"},
      {4500, "1.2h"},
      {kMin, "-153722867280912930m"},
      {kMax, "2562047788015215.5h"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(voiceTimeText(withVoice(seconds)), text) << seconds;
}

TEST(WidgetTexts, StreakAndPillTexts) {
  struct Case {
    std::int64_t streak, best;
    std::vector<std::string> streakTexts, voiceTexts;
  };
  const std::vector<Case> cases = {
      {7, 21, {"STREAK", "7", "days", "Best 21"}, {"VOICE TIME", "5.1h", "Streak", "7d", "Best", "21d"}},
      {1, 1, {"STREAK", "1", "day", "Best 1"}, {"VOICE TIME", "5.1h", "Streak", "1d", "Best", "1d"}},
      {0, 0, {"STREAK", "0", "days", "Best 0"}, {"VOICE TIME", "5.1h", "Streak", "0d", "Best", "0d"}},
      {2, -1, {"STREAK", "2", "days", "Best -1"}, {"VOICE TIME", "5.1h", "Streak", "2d", "Best", "-1d"}},
      {-3,
       kMax,
       {"STREAK", "-3", "days", "Best 9223372036854775807"},
       {"VOICE TIME", "5.1h", "Streak", "-3d", "Best", "9223372036854775807d"}},
      {kMin,
       0,
       {"STREAK", "-9223372036854775808", "days", "Best 0"},
       {"VOICE TIME", "5.1h", "Streak", "-9223372036854775808d", "Best", "0d"}},
  };
  for (const Case& c : cases) {
    StatsEntry entry{{}, withVoice(18240)};
    entry.stats.streakDays = c.streak;
    entry.stats.bestStreak = c.best;
    EXPECT_EQ(textsOf(StreakWidgetView{entry}.body()), c.streakTexts) << c.streak;
    EXPECT_EQ(textsOf(VoiceWidgetView{entry}.body()), c.voiceTexts) << c.streak;
  }
}

// A number punctuation with a decimal comma, as German or French use.
struct CommaPunctuation : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

// Builds the de_DE.UTF-8 locale into a private folder (LOCPATH), so the C library's
// own decimal comma is in force; nothing when the locale sources are not installed.
std::optional<std::filesystem::path> buildGermanLocale(const std::filesystem::path& root) {
  const auto folder = root / "locales";
  std::filesystem::create_directories(folder);
  const std::string command =
      "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return folder;
}

TEST(WidgetTexts, DecimalCommaLocalesChangeNothing) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunctuation));
  EXPECT_EQ(voiceTimeText(withVoice(5400)), "1.5h");
  EXPECT_EQ(voiceTimeText(withVoice(1234567)), "342.9h");
  std::locale::global(saved);

  const testsupport::TempDataDir dir;
  const auto locales = buildGermanLocale(dir.root());
  if (!locales) GTEST_SKIP() << "the locales package (de_DE sources) is not installed";
  setenv("LOCPATH", locales->c_str(), 1);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  std::array<char, 16> printed{};
  std::snprintf(printed.data(), printed.size(), "%.1f", 1.5);
  EXPECT_STREQ(printed.data(), "1,5") << "the locale really writes a decimal comma";
  EXPECT_EQ(voiceTimeText(withVoice(5400)), "1.5h");
  EXPECT_EQ(voiceTimeText(withVoice(18240)), "5.1h");
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}

TEST(WidgetTexts, TranslationsAreUsedButNeverAsFormats) {
  // Without a translation every key shows as written.
  EXPECT_EQ(localized("STREAK"), "STREAK");
  EXPECT_EQ(localized("Best %lld", 21), "Best 21");
  EXPECT_EQ(localized("%lld", -3), "-3");

  const testsupport::TempDataDir dir;
  const auto locales = buildGermanLocale(dir.root());
  if (!locales) GTEST_SKIP() << "the locales package (de_DE sources) is not installed";
  const auto messages = dir.root() / "messages" / "de" / "LC_MESSAGES";
  std::filesystem::create_directories(messages);
  {
    std::ofstream po(dir.root() / "de.po");
    po << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
       << "msgid \"day\"\nmsgstr \"Tag\"\n\n"
       << "msgid \"Best %lld\"\nmsgstr \"Rekord: %1$lld (100%%)\"\n\n"
       << "msgid \"%lld\"\nmsgstr \"%s%n\"\n";
  }
  const std::string compile =
      "msgfmt -o '" + (messages / "sorn-widgets.mo").string() + "' '" + (dir.root() / "de.po").string() + "'";
  ASSERT_EQ(std::system(compile.c_str()), 0) << "gettext (msgfmt) is a dependency";

  localized("day");  // the text domain's own binding first, then ours over it
  bindtextdomain(kTextDomain, (dir.root() / "messages").c_str());
  setenv("LOCPATH", locales->c_str(), 1);
  unsetenv("LANGUAGE");
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  EXPECT_EQ(streakUnitText(1), "Tag");
  EXPECT_EQ(streakUnitText(2), "days");  // no translation: as written
  EXPECT_EQ(localized("Best %lld", 21), "Rekord: 21 (100%)");
  // A translation without the number's placeholder is not used, and "%s%n" is never
  // handed to a formatting function.
  EXPECT_EQ(localized("%lld", 7), "7");
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}

}  // namespace
}  // namespace widgets
