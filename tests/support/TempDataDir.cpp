#include "tests/support/TempDataDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {
namespace {

std::optional<std::string> readEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void restoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

TempDataDir::TempDataDir()
    : savedData_(readEnv("XDG_DATA_HOME")),
      savedCache_(readEnv("XDG_CACHE_HOME")),
      savedRuntime_(readEnv("XDG_RUNTIME_DIR")) {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorn-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::filesystem::create_directories(dataHome());
  std::filesystem::create_directories(cacheHome());
  std::filesystem::create_directories(runtimeDir());
  std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
  setenv("XDG_CACHE_HOME", cacheHome().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtimeDir().c_str(), 1);
}

TempDataDir::~TempDataDir() {
  restoreEnv("XDG_DATA_HOME", savedData_);
  restoreEnv("XDG_CACHE_HOME", savedCache_);
  restoreEnv("XDG_RUNTIME_DIR", savedRuntime_);
  std::error_code ignored;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TempDataDir::suiteFolder(const std::string& suiteName) const {
  return dataHome() / "app-groups" / suiteName;
}

std::filesystem::path TempDataDir::suiteFile(const std::string& suiteName) const {
  return suiteFolder(suiteName) / "suite.sqlite3";
}

}  // namespace testsupport
