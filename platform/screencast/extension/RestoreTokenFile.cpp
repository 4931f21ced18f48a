#include "platform/screencast/extension/RestoreTokenFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace platform::screencast {

namespace {

constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;
constexpr std::size_t kLongestToken = 4096;

// The file or folder itself (never what a link points to) is of the kind, the user's and
// closed to everyone else.
bool isPrivate(const std::filesystem::path& path, mode_t kind) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & S_IFMT) == kind && info.st_uid == getuid() && (info.st_mode & kOthersBits) == 0;
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::filesystem::path RestoreTokenFile::defaultPath(const char* stateHome, const char* home) {
  std::filesystem::path folder;
  if (stateHome != nullptr && std::filesystem::path(stateHome).is_absolute()) {
    folder = stateHome;
  } else if (home != nullptr && std::filesystem::path(home).is_absolute()) {
    folder = std::filesystem::path(home) / ".local" / "state";
  } else {
    return {};
  }
  return folder / "sorn" / "screencast-restore-token";
}

std::optional<std::string> RestoreTokenFile::read() const {
  if (file_.empty() || !isPrivate(file_.parent_path(), S_IFDIR) || !isPrivate(file_, S_IFREG))
    return std::nullopt;
  const int fd = open(file_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::array<char, kLongestToken> buffer{};
  std::string token;
  for (ssize_t got = 0; (got = ::read(fd, buffer.data(), buffer.size())) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || token.size() + static_cast<std::size_t>(got) > kLongestToken) {
      close(fd);
      return std::nullopt;
    }
    token.append(buffer.data(), static_cast<std::size_t>(got));
  }
  close(fd);
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  if (token.empty()) return std::nullopt;
  return token;
}

bool RestoreTokenFile::write(std::string_view token) const {
  if (file_.empty()) return false;
  const auto folder = file_.parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder.parent_path(), error);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (!isPrivate(folder, S_IFDIR)) return false;

  std::string temporary = (folder / ".screencast-restore-token-XXXXXX").string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) return false;
  const bool written = writeAll(fd, token) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), file_.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void RestoreTokenFile::remove() const {
  if (!file_.empty()) unlink(file_.c_str());
}

}  // namespace platform::screencast
