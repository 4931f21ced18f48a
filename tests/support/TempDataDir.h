#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

// A fresh temporary folder used as the user's data and cache home for one test:
// XDG_DATA_HOME and XDG_CACHE_HOME point into it until the object goes away.
class TempDataDir {
 public:
  TempDataDir();
  ~TempDataDir();
  TempDataDir(const TempDataDir&) = delete;
  TempDataDir& operator=(const TempDataDir&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path dataHome() const { return root_ / "data"; }
  std::filesystem::path cacheHome() const { return root_ / "cache"; }
  // The folder and file of the app-group suite of that name under dataHome().
  std::filesystem::path suiteFolder(const std::string& suiteName) const;
  std::filesystem::path suiteFile(const std::string& suiteName) const;

 private:
  std::filesystem::path root_;
  std::optional<std::string> savedData_;
  std::optional<std::string> savedCache_;
};

}  // namespace testsupport
