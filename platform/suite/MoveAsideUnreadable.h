#pragma once

#include <sys/types.h>

#include <filesystem>

namespace platform::suite {

// Moves a suite file that SQLite cannot read out of the way, with its log and index
// files, to "<file>.unreadable-<unix seconds>" beside it (and "-2", "-3", ... after
// that when the name is taken), so that a fresh suite can start while the old one is
// kept for a look. Moves nothing unless the path still names the file given by device
// and inode. True when it moved the file.
bool moveAsideUnreadable(const std::filesystem::path& file, dev_t device, ino_t inode);

}  // namespace platform::suite
