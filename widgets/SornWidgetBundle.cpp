#include "widgets/SornWidgetBundle.h"

#include "widgets/StreakWidget.h"
#include "widgets/VoiceWidget.h"

namespace widgets {

std::vector<std::unique_ptr<platform::widgethost::Widget>> SornWidgetBundle::body() const {
  std::vector<std::unique_ptr<platform::widgethost::Widget>> widgets;
  widgets.push_back(std::make_unique<StreakWidget>());
  widgets.push_back(std::make_unique<VoiceWidget>());
  return widgets;
}

}  // namespace widgets
