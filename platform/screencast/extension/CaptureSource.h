#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::screencast {

// Where the extension host takes its frames from.
enum class CaptureSource {
  screen,       // the X11 screen
  testPattern,  // a moving test picture, for tests and headless demos
};

// The value of --capture= ("screen" or "test-pattern"), or nothing for any other text.
std::optional<CaptureSource> parseCaptureSource(std::string_view text);

// The GStreamer launch description of the source, 30 frames a second into an appsink
// named "sink". No colour conversion: the frames reach the handler as captured.
std::string captureDescription(CaptureSource source);

}  // namespace platform::screencast
