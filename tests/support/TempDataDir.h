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

  using Path = std::filesystem::path;

  const Path& root() const { return root_; }
  Path dataHome() const { return root_ / "data"; }
  // The folder and file of the app-group suite of that name under dataHome().
  Path suiteFolder(const std::string& name) const { return dataHome() / "app-groups" / name; }
  Path suiteFile(const std::string& name) const { return suiteFolder(name) / "suite.sqlite3"; }

 private:
  Path root_;
  std::vector<std::optional<std::string>> saved_;  // the variables' values before
};

}  // namespace testsupport
