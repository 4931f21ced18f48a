#include "platform/widgethost/HostOptions.h"

#include <optional>
#include <string_view>

namespace platform::widgethost {
namespace {

std::optional<HostOptions::Mode> modeOf(std::string_view option) {
  if (option == "--snapshot") return HostOptions::Mode::snapshot;
  if (option == "--gallery") return HostOptions::Mode::gallery;
  return std::nullopt;
}

}  // namespace

const char* HostOptions::usage() {
  return "Usage: sorn-widgets [--snapshot DIR | --gallery DIR]\n"
         "Shows the Sorn home-screen widgets in a window and keeps them up to date.\n"
         "  --snapshot DIR  write <kind>-<family>.png for each placed widget and exit\n"
         "  --gallery DIR   the same with the widget gallery's preview content\n";
}

std::variant<HostOptions, std::string> HostOptions::parse(const std::vector<std::string>& arguments) {
  HostOptions options;
  bool modeGiven = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.mode = Mode::help;
      return options;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    const std::optional<Mode> mode = modeOf(name);
    if (!mode) return "unknown option '" + argument + "'";
    if (modeGiven) return "only one of --snapshot and --gallery can be given";
    std::string directory;
    if (equals != std::string::npos) {
      directory = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      directory = arguments[++i];
    }
    if (directory.empty()) return std::string(name) + " needs a folder";
    options.mode = *mode;
    options.directory = directory;
    modeGiven = true;
  }
  return options;
}

}  // namespace platform::widgethost
