#include "widgets/VoiceWidget.h"

#include "platform/text/Translation.h"
#include "widgets/StatsProvider.h"
#include "widgets/VoiceWidgetView.h"

namespace widgets {

using platform::widgethost::StaticConfiguration;
using platform::widgethost::WidgetFamily;

StaticConfiguration VoiceWidget::body() const {
  return StaticConfiguration(kind, std::make_shared<const StatsProvider>(),
                             [](const StatsEntry& entry) { return VoiceWidgetView{entry}.body(); })
      .configurationDisplayName(_("Sorn Voice Time"))
      .description(_("Total time you've spent in voice, plus your streak."))
      .supportedFamilies({WidgetFamily::systemSmall, WidgetFamily::systemMedium});
}

}  // namespace widgets
