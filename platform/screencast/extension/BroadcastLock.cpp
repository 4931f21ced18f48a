#include "platform/screencast/extension/BroadcastLock.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform::screencast {

std::filesystem::path BroadcastLock::path() {
  // Read afresh each time (GLib's own answer is fixed at its first call), so that a test
  // can give each of its broadcasts a runtime folder of its own.
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path folder =
      runtime != nullptr && *runtime != '\0' ? runtime : g_get_user_runtime_dir();
  return folder / "sorn" / "broadcast.lock";
}

std::optional<BroadcastLock> BroadcastLock::acquire() {
  const std::filesystem::path file = path();
  if (g_mkdir_with_parents(file.parent_path().c_str(), 0700) != 0) {
    g_debug("%s cannot be made (%s): broadcasts are not kept to one at a time", file.parent_path().c_str(),
            g_strerror(errno));
    return BroadcastLock(-1);
  }
  // Not inherited by the indicator, or a broadcast killed before it would leave the lock held.
  const int descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (descriptor < 0) {
    g_debug("%s cannot be opened (%s): broadcasts are not kept to one at a time", file.c_str(),
            g_strerror(errno));
    return BroadcastLock(-1);
  }
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(descriptor);
    if (error == EWOULDBLOCK) return std::nullopt;
    g_debug("%s cannot be locked (%s): broadcasts are not kept to one at a time", file.c_str(),
            g_strerror(error));
    return BroadcastLock(-1);
  }
  return BroadcastLock(descriptor);
}

BroadcastLock::BroadcastLock(BroadcastLock&& other) noexcept : descriptor_(other.descriptor_) {
  other.descriptor_ = -1;
}

BroadcastLock::~BroadcastLock() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace platform::screencast
