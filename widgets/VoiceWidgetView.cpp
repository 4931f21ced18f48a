#include "widgets/VoiceWidgetView.h"

#include <array>
#include <charconv>

#include "platform/text/Translation.h"
#include "widgets/WidgetBackground.h"
#include "widgets/WidgetPalette.h"

namespace widgets {

using namespace platform::render;

namespace {

// A count of days as "7d", "-3d".
std::string daysText(std::int64_t days) {
  // TRANSLATORS: a count of days in a small label, as in "7d".
  return platform::text::translateFilling(N_("%sd"), "%s", days);
}

}  // namespace

std::string voiceTimeText(const WidgetStats& stats) {
  std::array<char, 400> text{};  // room for any double in fixed notation
  if (stats.voiceSeconds > 3599) {
    const double hours = static_cast<double>(stats.voiceSeconds) / 3600.0;
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), hours, std::chars_format::fixed, 1);
    // TRANSLATORS: hours of voice time, as in "1.5h".
    return platform::text::translateFilling(N_("%sh"), "%s", std::string_view(text.data(), result.ptr));
  }
  // TRANSLATORS: minutes of voice time, as in "45m".
  return platform::text::translateFilling(N_("%sm"), "%s", stats.voiceSeconds / 60);
}

View statPill(const std::string& label, const std::string& value) {
  return View(VStack{HorizontalAlignment::leading,
                     1,
                     {
                         Text(label)
                             .font(Font::system(9, FontWeight::bold))
                             .foregroundStyle(WidgetPalette::mutedText),
                         Text(value)
                             .font(Font::system(13, FontWeight::bold))
                             .foregroundStyle(WidgetPalette::primaryText),
                     }})
      .padding(EdgeInsets{.leading = 9, .trailing = 9})
      .padding(EdgeInsets{.top = 5, .bottom = 5})
      .background(WidgetPalette::surface)
      .clipShape(RoundedRectangle{7});
}

View VoiceWidgetView::body() const {
  const View header = HStack{VerticalAlignment::center,
                             5,
                             {
                                 Image::systemName("waveform").foregroundStyle(WidgetPalette::accent),
                                 Text(_("VOICE TIME"))
                                     .font(Font::system(10, FontWeight::heavy))
                                     .foregroundStyle(WidgetPalette::mutedText)
                                     .kerning(0.6),
                                 Spacer{},
                             }};
  const View content =
      View(VStack{HorizontalAlignment::leading,
                  8,
                  {
                      header,
                      Text(voiceTimeText(entry.stats))
                          .font(Font::system(36, FontWeight::bold, FontDesign::rounded))
                          .foregroundStyle(WidgetPalette::primaryText),
                      HStack{VerticalAlignment::center,
                             10,
                             {
                                 statPill(_("Streak"), daysText(entry.stats.streakDays)),
                                 statPill(_("Best"), daysText(entry.stats.bestStreak)),
                             }},
                      Spacer{0},
                  }})
          .frame({.maxWidth = infinity, .maxHeight = infinity, .alignment = Alignment::leading()});
  return widgetBackground(content, WidgetPalette::background);
}

}  // namespace widgets
