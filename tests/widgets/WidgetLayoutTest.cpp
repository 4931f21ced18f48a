#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/WidgetFamily.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"
#include "widgets/WidgetPalette.h"

namespace widgets {
namespace {

using platform::render::LaidOutView;
using platform::render::Rect;
using platform::render::Size;
using platform::widgethost::WidgetFamily;

constexpr double kTolerance = 1e-6;

StatsEntry entryWith(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  StatsEntry entry;
  entry.stats.voiceSeconds = voice;
  entry.stats.streakDays = streak;
  entry.stats.bestStreak = best;
  return entry;
}

// The content inside the widget's padding: container background, padding, frame.
const LaidOutView& paddedContent(const LaidOutView& root) { return root.children.at(0).children.at(0); }

const LaidOutView& text(const LaidOutView& root, const std::string& content) {
  const LaidOutView* found = platform::render::findText(root, content);
  if (found == nullptr) throw std::runtime_error("no text " + content);
  return *found;
}

TEST(WidgetLayout, PaddingOfFourteenOnEveryEdge) {
  platform::render::ViewRenderer renderer;
  for (WidgetFamily family : {WidgetFamily::systemSmall, WidgetFamily::systemMedium}) {
    const Size size = platform::widgethost::displaySize(family);
    for (const auto& view :
         {VoiceWidgetView{entryWith(18240, 7, 21)}.body(), StreakWidgetView{entryWith(0, 7, 21)}.body()}) {
      EXPECT_EQ(platform::render::containerBackgroundOf(view), WidgetPalette::background);
      const LaidOutView root = renderer.layout(view, size);
      const Rect content = paddedContent(root).frame;
      EXPECT_NEAR(content.x, 14, kTolerance);
      EXPECT_NEAR(content.y, 14, kTolerance);
      EXPECT_NEAR(size.width - content.maxX(), 14, kTolerance);
      EXPECT_NEAR(size.height - content.maxY(), 14, kTolerance);
    }
  }
}

TEST(WidgetLayout, VoiceHeaderSpansAndPillsFollowInOrder) {
  platform::render::ViewRenderer renderer;
  for (WidgetFamily family : {WidgetFamily::systemSmall, WidgetFamily::systemMedium}) {
    const Size size = platform::widgethost::displaySize(family);
    const auto view = VoiceWidgetView{entryWith(18240, 7, 21)}.body();
    const LaidOutView root = renderer.layout(view, size);
    const LaidOutView& stack = paddedContent(root).children.at(0);
    const LaidOutView& header = stack.children.at(0);
    EXPECT_NEAR(header.frame.x, 14, kTolerance);
    EXPECT_NEAR(header.frame.width, size.width - 28, kTolerance) << "the header row spans the width";

    // Left-aligned content: the symbol, the title, the figure and the pills start at
    // the leading edge, top to bottom.
    const Rect symbol = header.children.at(0).frame;
    const Rect title = text(root, "VOICE TIME").frame;
    const Rect figure = text(root, "5.1h").frame;
    EXPECT_NEAR(symbol.x, 14, kTolerance);
    EXPECT_NEAR(title.x, symbol.maxX() + 5, kTolerance);
    EXPECT_NEAR(figure.x, 14, kTolerance);
    EXPECT_NEAR(figure.y, header.frame.maxY() + 8, kTolerance);

    const Rect streakLabel = text(root, "Streak").frame;
    const Rect streakValue = text(root, "7d").frame;
    const Rect bestLabel = text(root, "Best").frame;
    const Rect bestValue = text(root, "21d").frame;
    const LaidOutView& pills = stack.children.at(2);
    EXPECT_NEAR(pills.frame.y, figure.maxY() + 8, kTolerance);
    EXPECT_NEAR(pills.frame.x, 14, kTolerance);
    // Inside a pill: 9 points from its sides, 5 from its top, value 1 point under label.
    EXPECT_NEAR(streakLabel.x, 14 + 9, kTolerance);
    EXPECT_NEAR(streakLabel.y, pills.frame.y + 5, 0.5);
    EXPECT_NEAR(streakValue.y, streakLabel.maxY() + 1, kTolerance);
    EXPECT_LT(streakValue.maxX(), bestLabel.x);
    const Rect firstPill = pills.children.at(0).frame;
    EXPECT_NEAR(pills.children.at(1).frame.x, firstPill.maxX() + 10, kTolerance);
    EXPECT_NEAR(bestLabel.x, firstPill.maxX() + 10 + 9, kTolerance);
    EXPECT_NEAR(bestValue.x, bestLabel.x, kTolerance);
    EXPECT_LT(pills.frame.maxY(), size.height - 14);
  }
}

TEST(WidgetLayout, BestLineSitsOnTheBottomEdgeWhateverTheFigure) {
  platform::render::ViewRenderer renderer;
  const Size size = platform::widgethost::displaySize(WidgetFamily::systemSmall);
  for (std::int64_t streak :
       {std::int64_t{1}, std::int64_t{7}, std::int64_t{12345}, std::numeric_limits<std::int64_t>::min()}) {
    const auto view = StreakWidgetView{entryWith(0, streak, 21)}.body();
    const LaidOutView root = renderer.layout(view, size);
    const Rect best = text(root, "Best 21").frame;
    EXPECT_NEAR(best.maxY(), size.height - 14, kTolerance) << streak;
    EXPECT_NEAR(best.x, 14, kTolerance) << streak;
    // The figure stays inside the padded area, wrapping and cut off if it must.
    const Rect figure = text(root, std::to_string(streak)).frame;
    EXPECT_GE(figure.x, 14 - kTolerance) << streak;
    EXPECT_LE(figure.maxX(), size.width - 14 + kTolerance) << streak;
    const Rect unit = text(root, streak == 1 ? "day" : "days").frame;
    EXPECT_NEAR(unit.y, figure.maxY() + 6, kTolerance) << streak;
    EXPECT_LE(unit.maxY(), best.y) << streak;
  }
}

}  // namespace
}  // namespace widgets
