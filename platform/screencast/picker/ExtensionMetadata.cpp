#include "platform/screencast/picker/ExtensionMetadata.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <system_error>

namespace platform::screencast {
namespace {

constexpr const char* kGroup = "Extension";

// A non-empty value of the key, or nothing. Locale strings pick the user's translation.
std::optional<std::string> readValue(GKeyFile* keyFile, const char* key, bool localized) {
  g_autofree char* value = localized ? g_key_file_get_locale_string(keyFile, kGroup, key, nullptr, nullptr)
                                     : g_key_file_get_string(keyFile, kGroup, key, nullptr);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

bool isValidExtensionId(std::string_view id) {
  if (id.empty() || id.front() == '.' || id.back() == '.' || id.find("..") != std::string_view::npos) {
    return false;
  }
  return std::ranges::all_of(id, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
  });
}

std::filesystem::path extensionMetadataFile(const std::filesystem::path& dataDir, std::string_view id) {
  return dataDir / "sorn" / "extensions" / (std::string(id) + ".extension");
}

std::optional<ExtensionMetadata> readExtensionMetadata(const std::filesystem::path& dataDir,
                                                       std::string_view id) {
  // The id becomes part of a path: anything but a plain reverse-domain name could leave
  // the extensions folder.
  if (!isValidExtensionId(id)) return std::nullopt;

  const auto file = extensionMetadataFile(dataDir, id);
  g_autoptr(GKeyFile) keyFile = g_key_file_new();
  if (g_key_file_load_from_file(keyFile, file.c_str(), G_KEY_FILE_NONE, nullptr) == FALSE)
    return std::nullopt;

  auto fileId = readValue(keyFile, "Id", false);
  auto extensionPoint = readValue(keyFile, "ExtensionPoint", false);
  auto exec = readValue(keyFile, "Exec", false);
  auto name = readValue(keyFile, "Name", true);
  if (!fileId || !extensionPoint || !exec || !name) return std::nullopt;
  if (*fileId != id || *extensionPoint != kBroadcastUploadExtensionPoint) return std::nullopt;

  std::filesystem::path program(*exec);
  if (program.is_relative()) program = file.parent_path() / program;
  program = program.lexically_normal();
  if (!isExecutableFile(program)) return std::nullopt;

  return ExtensionMetadata{.id = std::move(*fileId),
                           .extensionPoint = std::move(*extensionPoint),
                           .exec = std::move(program),
                           .name = std::move(*name),
                           .appGroup = readValue(keyFile, "AppGroup", false).value_or("")};
}

}  // namespace platform::screencast
