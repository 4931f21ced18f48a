#pragma once

#include <filesystem>
#include <optional>

namespace platform::screencast {

// The one broadcast a user runs at a time: an exclusive lock on
// ${XDG_RUNTIME_DIR}/sorn/broadcast.lock, held while the object lives. The kernel lets go
// of it when the process ends in any way (a crash, SIGKILL), so no stale lock outlives a
// broadcast, and it needs no session bus. Any thread.
class BroadcastLock {
 public:
  // The lock, or nothing while another process holds it. When the lock file cannot be
  // opened at all (no usable runtime folder) the broadcast is not held back: a lock
  // without a file is given, and the failure logged at debug level.
  static std::optional<BroadcastLock> acquire();
  // The lock file: in $XDG_RUNTIME_DIR, or GLib's fallback when that is not set.
  static std::filesystem::path path();

  ~BroadcastLock();
  BroadcastLock(BroadcastLock&& other) noexcept;
  BroadcastLock& operator=(BroadcastLock&&) = delete;
  BroadcastLock(const BroadcastLock&) = delete;
  BroadcastLock& operator=(const BroadcastLock&) = delete;

 private:
  explicit BroadcastLock(int descriptor) : descriptor_(descriptor) {}
  int descriptor_ = -1;
};

}  // namespace platform::screencast
