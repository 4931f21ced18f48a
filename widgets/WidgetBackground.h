#pragma once

#include "platform/render/View.h"

namespace widgets {

// The container styling of both widgets: 14 points of padding on every edge, then
// `color` as the widget's container background.
platform::render::View widgetBackground(const platform::render::View& content, platform::render::Color color);

}  // namespace widgets
