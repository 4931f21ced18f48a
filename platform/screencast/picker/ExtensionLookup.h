#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/screencast/picker/ExtensionMetadata.h"

namespace platform::screencast {

// The data folders searched for extension metadata, in order: the share folder beside the
// running program (<dir of the program>/../share, in the build tree as when installed),
// then $XDG_DATA_HOME (or ~/.local/share), then each of $XDG_DATA_DIRS (or /usr/local/share
// and /usr/share). Read from the environment on every call; relative entries are skipped.
std::vector<std::filesystem::path> extensionDataDirs();

// The first usable metadata of extension `id` among those folders; a broken file does not
// hide a good one further down the list.
std::optional<ExtensionMetadata> findExtension(std::string_view id);

}  // namespace platform::screencast
