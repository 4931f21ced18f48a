#pragma once

#include "platform/widgethost/Widget.h"

namespace widgets {

// The voice-time widget, small and medium.
class VoiceWidget final : public platform::widgethost::Widget {
 public:
  static constexpr const char* kind = "SornVoiceWidget";
  [[nodiscard]] platform::widgethost::StaticConfiguration body() const override;
};

}  // namespace widgets
