#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace platform::widgethost {

// What the widget host was asked to do on its command line.
struct HostOptions {
  enum class Mode {
    window,    // show the placed widgets in a window and keep them current
    snapshot,  // write one PNG per placed widget from a fresh timeline, then exit
    gallery,   // the same from the gallery's preview snapshots
    help,
  };

  Mode mode = Mode::window;
  std::filesystem::path directory;  // snapshot and gallery: where the PNG files go

  // The options, or the text of what is wrong with the arguments (program name not
  // included): "--snapshot DIR", "--snapshot=DIR", "--gallery DIR", "--help".
  static std::variant<HostOptions, std::string> parse(const std::vector<std::string>& arguments);
  static const char* usage();
};

}  // namespace platform::widgethost
