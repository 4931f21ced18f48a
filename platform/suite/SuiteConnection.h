#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::suite {

// The value of one key as SQLite holds it.
struct StoredValue {
  enum class Type { integer, real, text, other };
  Type type = Type::other;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;
};

// One SQLite connection on a suite file, with its statements prepared once. Shared by
// every handle of the process on that suite; SQLite's own connection mutex serialises
// the statements, so the connection is usable from any thread.
class SuiteConnection {
 public:
  // Opens the file, creating it private to the user; nothing when that fails.
  static std::shared_ptr<SuiteConnection> open(const std::filesystem::path& file);
  ~SuiteConnection();
  SuiteConnection(const SuiteConnection&) = delete;
  SuiteConnection& operator=(const SuiteConnection&) = delete;

  // True while the path still names the file this connection has open.
  [[nodiscard]] bool stillOpens(const std::filesystem::path& file) const;

  // Called once the path names another file: from then on closing this connection
  // must not delete the log and index files by name, which now belong to that file.
  void retire();

  void write(std::string_view key, const StoredValue& value);
  void remove(std::string_view key);
  [[nodiscard]] std::optional<StoredValue> read(std::string_view key);

 private:
  SuiteConnection(sqlite3* db, dev_t device, ino_t inode);
  bool prepare();

  sqlite3* db_;
  dev_t device_;
  ino_t inode_;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

}  // namespace platform::suite
