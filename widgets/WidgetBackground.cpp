#include "widgets/WidgetBackground.h"

namespace widgets {

platform::render::View widgetBackground(const platform::render::View& content,
                                        platform::render::Color color) {
  return content.padding(platform::render::EdgeInsets{14, 14, 14, 14}).containerBackground(color);
}

}  // namespace widgets
