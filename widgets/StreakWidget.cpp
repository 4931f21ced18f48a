#include "widgets/StreakWidget.h"

#include "platform/text/Translation.h"
#include "widgets/StatsProvider.h"
#include "widgets/StreakWidgetView.h"

namespace widgets {

using platform::widgethost::StaticConfiguration;
using platform::widgethost::WidgetFamily;

StaticConfiguration StreakWidget::body() const {
  return StaticConfiguration(kind, std::make_shared<const StatsProvider>(),
                             [](const StatsEntry& entry) { return StreakWidgetView{entry}.body(); })
      .configurationDisplayName(_("Sorn Streak"))
      .description(_("Your current daily activity streak."))
      .supportedFamilies({WidgetFamily::systemSmall});
}

}  // namespace widgets
