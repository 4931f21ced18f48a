#include "widgets/StreakWidgetView.h"

#include <limits>

#include "platform/text/Translation.h"
#include "widgets/WidgetBackground.h"
#include "widgets/WidgetPalette.h"

namespace widgets {

using namespace platform::render;

std::string streakUnitText(std::int64_t streakDays) {
  // gettext chooses the form by an unsigned count; a negative one (never a real streak)
  // takes the form of many, as in English.
  const unsigned long count =
      streakDays < 0 ? std::numeric_limits<unsigned long>::max() : static_cast<unsigned long>(streakDays);
  return ngettext("day", "days", count);
}

View StreakWidgetView::body() const {
  const View header = HStack{VerticalAlignment::center,
                             5,
                             {
                                 Image::systemName("flame.fill").foregroundStyle(WidgetPalette::accent),
                                 Text(_("STREAK"))
                                     .font(Font::system(10, FontWeight::heavy))
                                     .foregroundStyle(WidgetPalette::mutedText)
                                     .kerning(0.6),
                             }};
  const View content =
      View(VStack{HorizontalAlignment::leading,
                  6,
                  {
                      header,
                      // TRANSLATORS: the streak's figure; keep the number's %lld.
                      Text(platform::text::translateFilling(N_("%lld"), "%lld", entry.stats.streakDays))
                          .font(Font::system(40, FontWeight::bold, FontDesign::rounded))
                          .foregroundStyle(WidgetPalette::primaryText),
                      Text(streakUnitText(entry.stats.streakDays))
                          .font(Font::system(13, FontWeight::medium))
                          .foregroundStyle(WidgetPalette::secondaryText),
                      Spacer{0},
                      Text(platform::text::translateFilling(N_("Best %lld"), "%lld", entry.stats.bestStreak))
                          .font(Font::system(11, FontWeight::semibold))
                          .foregroundStyle(WidgetPalette::mutedText),
                  }})
          .frame({.maxWidth = infinity, .maxHeight = infinity, .alignment = Alignment::leading()});
  return widgetBackground(content, WidgetPalette::background);
}

}  // namespace widgets
