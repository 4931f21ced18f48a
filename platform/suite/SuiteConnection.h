#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/suite/StoredValue.h"
#include "platform/suite/SuiteChange.h"

namespace platform::suite {

// One SQLite connection on a suite file, with its statements prepared once. Shared by
// every handle of the process on that suite; SQLite's own connection mutex serialises
// the statements, and is held through a whole transaction so that no other thread's
// statement lands inside it. Usable from any thread.
class SuiteConnection {
 public:
  // Opens the file, creating it private to the user; nothing when that fails. A file
  // SQLite reports as not a database or corrupt is moved aside and a fresh one made.
  static std::shared_ptr<SuiteConnection> open(const std::filesystem::path& file);
  ~SuiteConnection();
  SuiteConnection(const SuiteConnection&) = delete;
  SuiteConnection& operator=(const SuiteConnection&) = delete;

  // True while the path still names the file this connection has open.
  [[nodiscard]] bool stillOpens(const std::filesystem::path& file) const;

  // Called once the path names another file: from then on closing this connection
  // must not delete the log and index files by name, which now belong to that file.
  void retire();

  // Each gives false when a statement failed; a failed transaction is rolled back.
  bool write(std::string_view key, const StoredValue& value);
  bool remove(std::string_view key);
  bool write(std::span<const SuiteChange> changes);

  // A missing key, or a text longer than maxTextBytes, reads as Type::other.
  [[nodiscard]] StoredValue read(std::string_view key, std::size_t maxTextBytes);
  // The keys' values from one read transaction; all of them missing when it failed.
  [[nodiscard]] std::vector<StoredValue> read(std::span<const std::string_view> keys,
                                              std::size_t maxTextBytes);

 private:
  enum class Opening { opened, unreadable, failed };

  SuiteConnection(sqlite3* db, dev_t device, ino_t inode);
  static std::shared_ptr<SuiteConnection> openFile(const std::filesystem::path& file, Opening& outcome);
  Opening setUp();
  bool prepare();
  bool upsert(std::string_view key, const StoredValue& value);
  bool erase(std::string_view key);
  bool select(std::string_view key, std::size_t maxTextBytes, StoredValue& value);
  void rollbackIfOpen();

  sqlite3* db_;
  dev_t device_;
  ino_t inode_;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* beginWrite_ = nullptr;
  sqlite3_stmt* beginRead_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  sqlite3_stmt* rollback_ = nullptr;
};

}  // namespace platform::suite
