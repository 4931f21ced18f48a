#include "platform/screencast/extension/CaptureSource.h"

namespace platform::screencast {

namespace {
// The appsink neither waits on the clock (the sources are live and pace themselves)
// nor queues: each sample is handed on as it arrives.
constexpr const char* kSink = "appsink name=sink sync=false max-buffers=1 drop=true";
}  // namespace

std::optional<CaptureSource> parseCaptureSource(std::string_view text) {
  if (text == "screen") return CaptureSource::screen;
  if (text == "test-pattern") return CaptureSource::testPattern;
  return std::nullopt;
}

std::string captureDescription(CaptureSource source) {
  switch (source) {
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

}  // namespace platform::screencast
