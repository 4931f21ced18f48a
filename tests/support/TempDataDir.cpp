#include "tests/support/TempDataDir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace testsupport {
namespace {

// Each variable and the folder of the root it points to while the object lives.
constexpr std::pair<const char*, const char*> kFolders[] = {
    {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "runtime"}};

}  // namespace

TempDataDir::TempDataDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorn-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  for (const auto& [variable, folder] : kFolders) {
    const char* saved = std::getenv(variable);
    saved_.push_back(saved != nullptr ? std::optional<std::string>(saved) : std::nullopt);
    mkdir((root_ / folder).c_str(), 0700);
    setenv(variable, (root_ / folder).c_str(), 1);
  }
}

TempDataDir::~TempDataDir() {
  for (std::size_t i = 0; i < saved_.size(); ++i) {
    const char* variable = kFolders[i].first;
    saved_[i] ? setenv(variable, saved_[i]->c_str(), 1) : unsetenv(variable);
  }
  std::error_code ignored;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace testsupport
