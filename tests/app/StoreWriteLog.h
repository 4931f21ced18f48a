#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace apptest {

// Records, through triggers on the suite's table, every key written ("set <key>") and
// removed ("remove <key>"), in the order the writes reached the database.
class StoreWriteLog {
 public:
  explicit StoreWriteLog(const std::filesystem::path& suiteFile) {
    if (sqlite3_open_v2(suiteFile.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + suiteFile.string());
    }
    sqlite3_busy_timeout(db_, 5000);
    exec(R"sql(
      CREATE TABLE IF NOT EXISTS write_log (n INTEGER PRIMARY KEY AUTOINCREMENT, event TEXT);
      CREATE TRIGGER IF NOT EXISTS log_insert AFTER INSERT ON entries
        BEGIN INSERT INTO write_log (event) VALUES ('set ' || new.key); END;
      CREATE TRIGGER IF NOT EXISTS log_update AFTER UPDATE ON entries
        BEGIN INSERT INTO write_log (event) VALUES ('set ' || new.key); END;
      CREATE TRIGGER IF NOT EXISTS log_delete AFTER DELETE ON entries
        BEGIN INSERT INTO write_log (event) VALUES ('remove ' || old.key); END;
      DELETE FROM write_log;
    )sql");
  }
  ~StoreWriteLog() { sqlite3_close(db_); }
  StoreWriteLog(const StoreWriteLog&) = delete;
  StoreWriteLog& operator=(const StoreWriteLog&) = delete;

  // The events since the last call, oldest first.
  std::vector<std::string> take() {
    std::vector<std::string> events;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, "SELECT event FROM write_log ORDER BY n", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      events.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
    exec("DELETE FROM write_log");
    return events;
  }

 private:
  void exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error != nullptr ? error : "unknown";
      sqlite3_free(error);
      throw std::runtime_error("sqlite: " + message);
    }
  }

  sqlite3* db_ = nullptr;
};

}  // namespace apptest
