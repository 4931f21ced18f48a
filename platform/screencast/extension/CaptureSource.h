#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::screencast {

// Where the extension host takes its frames from.
enum class CaptureSource {
  automatic,    // the portal on Wayland or without an X11 display, the X11 screen otherwise
  portal,       // what the user picks in the desktop's screen-cast portal
  screen,       // the X11 screen
  testPattern,  // a moving test picture, for tests and headless demos
};

// The value of --capture= ("auto", "portal", "screen" or "test-pattern"), or nothing for
// any other text.
std::optional<CaptureSource> parseCaptureSource(std::string_view text);

// What automatic means in this session: the portal when a Wayland display is named or no
// X11 display is, the X11 screen otherwise. Any other source stays as it is.
CaptureSource resolveCaptureSource(CaptureSource source, bool hasWaylandDisplay, bool hasX11Display);

// The GStreamer launch description of the X11 screen or the test picture, 30 frames a
// second into an appsink named "sink"; empty for the portal, whose stream is known only
// once the user chose (see portalCaptureDescription). No colour conversion: the frames
// reach the handler as captured.
std::string captureDescription(CaptureSource source);

// The description for the portal's PipeWire stream: the node on the remote the portal
// opened as pipeWireFd, into the same appsink.
std::string portalCaptureDescription(int pipeWireFd, std::uint32_t nodeId);

}  // namespace platform::screencast
