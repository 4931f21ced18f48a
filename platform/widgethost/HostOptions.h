#pragma once

#include <filesystem>

namespace platform::widgethost {

// What the widget host was asked to do on its command line.
struct HostOptions {
  enum class Mode {
    window,    // show the placed widgets in a window and keep them current
    snapshot,  // write one PNG per placed widget from a fresh timeline, then exit
    gallery,   // the same from the gallery's preview snapshots
  };

  Mode mode = Mode::window;
  std::filesystem::path directory;  // snapshot and gallery: where the PNG files go
};

}  // namespace platform::widgethost
