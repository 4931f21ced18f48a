#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform::screencast {

// The screen-cast portal's restore token, kept between broadcasts so that the desktop
// asks what to share only the first time. The token lets whoever holds it skip the
// desktop's question, so it lives in a folder and a file only the user can read: one
// that is not private, is owned by someone else or is a symbolic link is not read.
class RestoreTokenFile {
 public:
  explicit RestoreTokenFile(std::filesystem::path file) : file_(std::move(file)) {}

  // ${XDG_STATE_HOME:-$HOME/.local/state}/sorn/screencast-restore-token; empty when
  // neither variable gives an absolute folder.
  static std::filesystem::path defaultPath(const char* stateHome, const char* home);

  // The stored token; nothing when there is none or it is not private to the user.
  [[nodiscard]] std::optional<std::string> read() const;
  // Replaces the token whole (a temporary file renamed over it), creating the folder
  // with mode 0700. False when the folder is not private or the file cannot be written.
  bool write(std::string_view token) const;
  // Forgets the token.
  void remove() const;

  [[nodiscard]] const std::filesystem::path& path() const { return file_; }

 private:
  std::filesystem::path file_;
};

}  // namespace platform::screencast
