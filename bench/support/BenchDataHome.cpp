#include "bench/support/BenchDataHome.h"

#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace benchsupport {
namespace {

struct DataHome {
  DataHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorn-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    // Web views keep their caches there too, not in the user's own cache folder.
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
  }
  ~DataHome() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  DataHome(const DataHome&) = delete;
  DataHome& operator=(const DataHome&) = delete;
  std::filesystem::path root;
};

}  // namespace

const std::filesystem::path& benchDataHome() {
  static const DataHome home;
  return home.root;
}

}  // namespace benchsupport
