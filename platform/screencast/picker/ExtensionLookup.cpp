#include "platform/screencast/picker/ExtensionLookup.h"

#include <glib.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace platform::screencast {
namespace {

void addIfAbsolute(std::vector<std::filesystem::path>& dirs, std::string_view dir) {
  const std::filesystem::path path(dir);
  if (path.is_absolute()) dirs.push_back(path);
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::vector<std::filesystem::path> extensionDataDirs() {
  std::vector<std::filesystem::path> dirs;

  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) dirs.push_back((program.parent_path() / ".." / "share").lexically_normal());

  const std::string dataHome = environment("XDG_DATA_HOME");
  if (!dataHome.empty()) {
    addIfAbsolute(dirs, dataHome);
  } else {
    addIfAbsolute(dirs, (std::filesystem::path(g_get_home_dir()) / ".local" / "share").string());
  }

  std::string dataDirs = environment("XDG_DATA_DIRS");
  if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
  std::string_view rest(dataDirs);
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    addIfAbsolute(dirs, rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return dirs;
}

std::optional<ExtensionMetadata> findExtension(std::string_view id) {
  for (const auto& dir : extensionDataDirs()) {
    if (auto metadata = readExtensionMetadata(dir, id)) return metadata;
  }
  g_debug("no usable metadata of the extension %.*s in sorn/extensions of any data folder",
          static_cast<int>(id.size()), id.data());
  return std::nullopt;
}

}  // namespace platform::screencast
