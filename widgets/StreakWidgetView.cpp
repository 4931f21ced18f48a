#include "widgets/StreakWidgetView.h"

#include "widgets/Localization.h"
#include "widgets/WidgetBackground.h"
#include "widgets/WidgetPalette.h"

namespace widgets {

using namespace platform::render;

std::string streakUnitText(std::int64_t streakDays) { return localized(streakDays == 1 ? "day" : "days"); }

View StreakWidgetView::body() const {
  const View header = HStack{VerticalAlignment::center,
                             5,
                             {
                                 Image::systemName("flame.fill").foregroundStyle(WidgetPalette::accent),
                                 Text(localized("STREAK"))
                                     .font(Font::system(10, FontWeight::heavy))
                                     .foregroundStyle(WidgetPalette::mutedText)
                                     .kerning(0.6),
                             }};
  const View content =
      View(VStack{HorizontalAlignment::leading,
                  6,
                  {
                      header,
                      Text(localized("%lld", entry.stats.streakDays))
                          .font(Font::system(40, FontWeight::bold, FontDesign::rounded))
                          .foregroundStyle(WidgetPalette::primaryText),
                      Text(streakUnitText(entry.stats.streakDays))
                          .font(Font::system(13, FontWeight::medium))
                          .foregroundStyle(WidgetPalette::secondaryText),
                      Spacer{0},
                      Text(localized("Best %lld", entry.stats.bestStreak))
                          .font(Font::system(11, FontWeight::semibold))
                          .foregroundStyle(WidgetPalette::mutedText),
                  }})
          .frame({.maxWidth = infinity, .maxHeight = infinity, .alignment = Alignment::leading()});
  return widgetBackground(content, WidgetPalette::background);
}

}  // namespace widgets
