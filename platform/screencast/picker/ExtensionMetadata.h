#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::screencast {

// The extension point every broadcast upload extension declares.
inline constexpr std::string_view kBroadcastUploadExtensionPoint = "com.tarnwell.sorn.broadcast-upload";

// What a broadcast extension's metadata file says about it, checked and resolved.
struct ExtensionMetadata {
  std::string id;
  std::string extensionPoint;
  // Absolute path of the extension's program.
  std::filesystem::path exec;
  // Display name, in the user's language where the file has one.
  std::string name;
  // Empty when the file names none.
  std::string appGroup;
};

// Whether an extension id is a reverse-domain name that is safe to use as a file name.
bool isValidExtensionId(std::string_view id);

// The metadata file of an extension under one data folder:
// <dataDir>/sorn/extensions/<id>.extension.
std::filesystem::path extensionMetadataFile(const std::filesystem::path& dataDir, std::string_view id);

// Reads the metadata of extension `id` from one data folder. Nothing when the file is
// missing or unreadable, lacks a key, names another id or extension point, or when its
// program is not an executable file. A relative Exec is taken from the metadata file's own
// folder, so an installed tree works wherever it was installed or unpacked.
std::optional<ExtensionMetadata> readExtensionMetadata(const std::filesystem::path& dataDir,
                                                       std::string_view id);

}  // namespace platform::screencast
