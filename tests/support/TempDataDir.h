#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh temporary folder used as the user's data, cache and runtime folders for one
// test: XDG_DATA_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR point into it until the object
// goes away.
class TempDataDir {
 public:
  TempDataDir();
  ~TempDataDir();
  TempDataDir(const TempDataDir&) = delete;
  TempDataDir& operator=(const TempDataDir&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path dataHome() const { return root_ / "data"; }
  std::filesystem::path cacheHome() const { return root_ / "cache"; }
  std::filesystem::path runtimeDir() const { return root_ / "runtime"; }
  // The folder and file of the app-group suite of that name under dataHome().
  std::filesystem::path suiteFolder(const std::string& suiteName) const;
  std::filesystem::path suiteFile(const std::string& suiteName) const;

 private:
  std::filesystem::path root_;
  std::vector<std::optional<std::string>> saved_;  // the variables' values before
};

}  // namespace testsupport
