#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>

namespace benchsupport {

// The baseline the store's costs are measured against: one SQLite connection kept open
// for the whole run, with the store's settings, table and prepared statements.
class KeptOpenConnection {
 public:
  explicit KeptOpenConnection(const std::filesystem::path& file);
  ~KeptOpenConnection();
  KeptOpenConnection(const KeptOpenConnection&) = delete;
  KeptOpenConnection& operator=(const KeptOpenConnection&) = delete;

  void writeInteger(const char* key, std::int64_t value);
  void writeDouble(const char* key, double value);
  void writeText(const char* key, const char* value);
  // Writes between the two go in one transaction.
  void begin();
  void commit();
  // The stored integer, 0 when missing.
  std::int64_t readInteger(const char* key);

 private:
  static void run(sqlite3_stmt* statement);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
};

}  // namespace benchsupport
