#include "platform/suite/Suite.h"

#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "platform/suite/SuiteConnection.h"

namespace platform::suite {
namespace {

namespace fs = std::filesystem;

fs::path userDataDir() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  // getpwuid_r, as stores are opened on any thread.
  struct passwd entry {};
  std::array<char, 4096> entryText{};
  if (home == nullptr || home[0] != '/') {
    struct passwd* found = nullptr;
    const bool known = getpwuid_r(geteuid(), &entry, entryText.data(), entryText.size(), &found) == 0;
    home = known && found != nullptr ? found->pw_dir : "/";
  }
  return fs::path(home) / ".local" / "share";
}

// A suite name becomes one folder name: nothing that could climb out of app-groups.
bool isSafeFolderName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool isPrivateFolder(const fs::path& folder) {
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0 && (st.st_mode & 0700) == 0700;
}

// Makes the suite's folder (and app-groups above it) private to the user if missing.
bool ensurePrivateFolder(const fs::path& folder) {
  if (isPrivateFolder(folder)) return true;
  std::error_code error;
  fs::create_directories(folder.parent_path(), error);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return isPrivateFolder(folder);
}

// SQLite refuses a path with a link anywhere in it, but the folders above the suite's
// own (a home under /var/home, a data home on another disk) are the user's choice:
// they are resolved before SQLite sees the path. The suite's folder and file stay as
// they are, so a link there is still refused.
std::optional<fs::path> withResolvedParents(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::error_code error;
  fs::path parents = fs::canonical(folder.parent_path(), error);
  if (error) return std::nullopt;
  return parents / folder.filename() / file.filename();
}

// Over its file-size limit a write would kill the process with SIGXFSZ; ignored, the
// write fails with EFBIG like one on a full disk, and the caller learns of it. A
// program that handles the signal itself keeps its handler.
void ignoreFileSizeSignalUnlessHandled() {
  struct sigaction current {};
  if (sigaction(SIGXFSZ, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
}

// Where the suite of that name lives for the current environment. Opening is hot, so
// the path is rebuilt only when the suite name or the environment changed.
const fs::path& locate(std::string_view suiteName) {
  struct Located {
    std::string suiteName, xdgDataHome, home;
    fs::path file;
  };
  thread_local Located last;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string_view xdgText = xdg != nullptr ? xdg : "";
  std::string_view homeText = home != nullptr ? home : "";
  if (last.file.empty() || last.suiteName != suiteName || last.xdgDataHome != xdgText ||
      last.home != homeText) {
    last = Located{std::string(suiteName), std::string(xdgText), std::string(homeText),
                   Suite::fileFor(suiteName)};
  }
  return last.file;
}

// One connection per suite file in this process, shared by every handle. A cached
// connection is used only while its file is still the one at the suite's path.
class ConnectionCache {
 public:
  std::shared_ptr<SuiteConnection> connectionFor(const fs::path& file) {
    std::shared_ptr<SuiteConnection> cached;
    {
      std::lock_guard lock(mutex_);
      if (auto it = connections_.find(file.native()); it != connections_.end()) cached = it->second;
    }
    if (cached) {
      if (cached->stillOpens(file)) return cached;
      cached->retire();
    }

    std::shared_ptr<SuiteConnection> fresh;
    ignoreFileSizeSignalUnlessHandled();
    if (ensurePrivateFolder(file.parent_path())) {
      if (auto resolved = withResolvedParents(file)) fresh = SuiteConnection::open(*resolved);
    }
    if (!fresh) {
      g_debug(
          "The store %s cannot be opened: its folder or file cannot be made, is not private to the user "
          "or is a link, or it is not a database",
          file.c_str());
    }
    std::lock_guard lock(mutex_);
    if (fresh) {
      connections_[file.native()] = fresh;
    } else {
      connections_.erase(file.native());
    }
    return fresh;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<SuiteConnection>, std::less<>> connections_;
};

ConnectionCache& connectionCache() {
  static ConnectionCache cache;
  return cache;
}

}  // namespace

fs::path Suite::fileFor(std::string_view suiteName) {
  return userDataDir() / "app-groups" / std::string(suiteName) / "suite.sqlite3";
}

std::optional<Suite> Suite::open(std::string_view suiteName, std::size_t maxTextBytes) {
  if (!isSafeFolderName(suiteName)) return std::nullopt;
  auto connection = connectionCache().connectionFor(locate(suiteName));
  if (!connection) return std::nullopt;
  return Suite(std::move(connection), maxTextBytes);
}

Suite::Suite(std::shared_ptr<SuiteConnection> connection, std::size_t maxTextBytes)
    : connection_(std::move(connection)), maxTextBytes_(maxTextBytes) {}

bool Suite::setInteger(std::string_view key, std::int64_t value) const {
  return connection_->write(key, StoredValue::ofInteger(value));
}

bool Suite::setDouble(std::string_view key, double value) const {
  return connection_->write(key, StoredValue::ofReal(value));
}

bool Suite::setString(std::string_view key, std::string_view value) const {
  return connection_->write(key, StoredValue::ofText(value));
}

bool Suite::setBool(std::string_view key, bool value) const { return setInteger(key, value ? 1 : 0); }

bool Suite::remove(std::string_view key) const { return connection_->remove(key); }

bool Suite::write(std::span<const SuiteChange> changes) const { return connection_->write(changes); }

std::optional<std::int64_t> Suite::integer(std::string_view key) const {
  return connection_->read(key, maxTextBytes_).asInteger();
}

std::optional<double> Suite::doubleValue(std::string_view key) const {
  return connection_->read(key, maxTextBytes_).asDouble();
}

std::optional<std::string> Suite::string(std::string_view key) const {
  return connection_->read(key, maxTextBytes_).asText();
}

std::optional<bool> Suite::boolValue(std::string_view key) const {
  return connection_->read(key, maxTextBytes_).asBool();
}

std::vector<StoredValue> Suite::read(std::span<const std::string_view> keys) const {
  return connection_->read(keys, maxTextBytes_);
}

}  // namespace platform::suite
