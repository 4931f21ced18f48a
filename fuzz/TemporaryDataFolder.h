#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzsupport {

// A fresh private data folder (on tmpfs where there is one, for speed) made the
// process's XDG_DATA_HOME; empty when none could be made. The caller removes it.
inline std::filesystem::path makeTemporaryDataFolder() {
  std::string pattern =
      (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/sorn-fuzz-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) return {};
  setenv("XDG_DATA_HOME", pattern.c_str(), 1);
  return pattern;
}

}  // namespace fuzzsupport
