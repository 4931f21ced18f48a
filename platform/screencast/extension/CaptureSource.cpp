#include "platform/screencast/extension/CaptureSource.h"

namespace platform::screencast {

namespace {
// The appsink neither waits on the clock (the sources are live and pace themselves)
// nor queues: each sample is handed on as it arrives.
constexpr const char* kSink = "appsink name=sink sync=false max-buffers=1 drop=true";
}  // namespace

std::optional<CaptureSource> parseCaptureSource(std::string_view text) {
  if (text == "auto") return CaptureSource::automatic;
  if (text == "portal") return CaptureSource::portal;
  if (text == "screen") return CaptureSource::screen;
  if (text == "test-pattern") return CaptureSource::testPattern;
  return std::nullopt;
}

CaptureSource resolveCaptureSource(CaptureSource source, bool hasWaylandDisplay, bool hasX11Display) {
  if (source != CaptureSource::automatic) return source;
  return hasWaylandDisplay || !hasX11Display ? CaptureSource::portal : CaptureSource::screen;
}

std::string captureDescription(CaptureSource source) {
  switch (source) {
    case CaptureSource::automatic:
    case CaptureSource::portal:
      return {};
    case CaptureSource::screen:
      // Damage tracking costs more than it saves when every frame is taken whole.
      return std::string("ximagesrc use-damage=false ! video/x-raw,framerate=30/1 ! ") + kSink;
    case CaptureSource::testPattern:
      return std::string(
                 "videotestsrc is-live=true pattern=ball ! video/x-raw,width=1280,height=720,framerate=30/1 "
                 "! ") +
             kSink;
  }
  return {};
}

std::string portalCaptureDescription(int pipeWireFd, std::uint32_t nodeId) {
  // The buffers are copied out of PipeWire's pool: the handler may keep a frame longer
  // than the stream lends it. The source offers PipeWire only the formats the caps after it
  // name: raw video, in any format and unconverted.
  return "pipewiresrc fd=" + std::to_string(pipeWireFd) + " path=" + std::to_string(nodeId) +
         " always-copy=true ! video/x-raw ! " + kSink;
}

}  // namespace platform::screencast
