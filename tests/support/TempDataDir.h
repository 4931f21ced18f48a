#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh temporary folder used as the user's data, cache and runtime folders for one
// test: XDG_DATA_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR point into it until the object
// goes away.
class TempDataDir {
 public:
  using Path = std::filesystem::path;

  TempDataDir() {
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
  ~TempDataDir() {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
      const char* variable = kFolders[i].first;
      saved_[i] ? setenv(variable, saved_[i]->c_str(), 1) : unsetenv(variable);
    }
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  TempDataDir(const TempDataDir&) = delete;
  TempDataDir& operator=(const TempDataDir&) = delete;

  const Path& root() const { return root_; }
  Path dataHome() const { return root_ / "data"; }
  // The folder and file of the app-group suite of that name under dataHome().
  Path suiteFolder(const std::string& name) const { return dataHome() / "app-groups" / name; }
  Path suiteFile(const std::string& name) const { return suiteFolder(name) / "suite.sqlite3"; }

 private:
  // Each variable and the folder of the root it points to while the object lives.
  static constexpr std::pair<const char*, const char*> kFolders[] = {
      {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "runtime"}};

  Path root_;
  std::vector<std::optional<std::string>> saved_;  // the variables' values before
};

}  // namespace testsupport
