#include "platform/suite/MoveAsideUnreadable.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

namespace platform::suite {
namespace {

namespace fs = std::filesystem;

// Holds the folder's lock while the file is checked and moved, so that two processes
// (or threads) that found the same file unreadable never move the fresh one made
// after it.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        locked_(fd_ >= 0 && flock(fd_, LOCK_EX) == 0) {}
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  [[nodiscard]] bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_;
};

bool isTaken(const fs::path& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

fs::path freeNameBeside(const fs::path& file) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  const std::string base = file.string() + ".unreadable-" + std::to_string(seconds.count());
  fs::path candidate = base;
  for (int n = 2; isTaken(candidate) || isTaken(candidate.string() + "-wal"); ++n) {
    candidate = base + "-" + std::to_string(n);
  }
  return candidate;
}

bool renameUnlessMissing(const fs::path& from, const fs::path& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

bool moveAsideUnreadable(const fs::path& file, dev_t device, ino_t inode) {
  const FolderLock lock(file.parent_path());
  if (!lock.locked()) return false;
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0 || st.st_dev != device || st.st_ino != inode) return false;

  // The log and index go first: a fresh suite made at the path must never find them.
  const fs::path aside = freeNameBeside(file);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (!renameUnlessMissing(file.string() + suffix, aside.string() + suffix)) return false;
  }
  if (std::rename(file.c_str(), aside.c_str()) != 0) return false;
  g_debug("The store %s could not be read; moved it aside to %s to start a fresh one", file.c_str(),
          aside.c_str());
  return true;
}

}  // namespace platform::suite
