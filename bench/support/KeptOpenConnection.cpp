#include "bench/support/KeptOpenConnection.h"

namespace benchsupport {

KeptOpenConnection::KeptOpenConnection(const std::filesystem::path& file) {
  sqlite3_open(file.c_str(), &db_);
  sqlite3_exec(db_,
               "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
               "PRAGMA journal_size_limit = 1048576; PRAGMA wal_autocheckpoint = 256;"
               "CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;",
               nullptr, nullptr, nullptr);
  sqlite3_prepare_v3(db_, "INSERT OR REPLACE INTO entries (key, value) VALUES (?1, ?2)", -1,
                     SQLITE_PREPARE_PERSISTENT, &upsert_, nullptr);
  sqlite3_prepare_v3(db_, "SELECT value FROM entries WHERE key = ?1", -1, SQLITE_PREPARE_PERSISTENT, &select_,
                     nullptr);
  sqlite3_prepare_v3(db_, "BEGIN IMMEDIATE", -1, SQLITE_PREPARE_PERSISTENT, &begin_, nullptr);
  sqlite3_prepare_v3(db_, "COMMIT", -1, SQLITE_PREPARE_PERSISTENT, &commit_, nullptr);
}

KeptOpenConnection::~KeptOpenConnection() {
  sqlite3_finalize(upsert_);
  sqlite3_finalize(select_);
  sqlite3_finalize(begin_);
  sqlite3_finalize(commit_);
  sqlite3_close(db_);
}

void KeptOpenConnection::writeInteger(const char* key, std::int64_t value) {
  sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
  sqlite3_bind_int64(upsert_, 2, value);
  run(upsert_);
}

void KeptOpenConnection::writeDouble(const char* key, double value) {
  sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
  sqlite3_bind_double(upsert_, 2, value);
  run(upsert_);
}

void KeptOpenConnection::writeText(const char* key, const char* value) {
  sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
  sqlite3_bind_text(upsert_, 2, value, -1, SQLITE_STATIC);
  run(upsert_);
}

std::int64_t KeptOpenConnection::readInteger(const char* key) {
  sqlite3_bind_text(select_, 1, key, -1, SQLITE_STATIC);
  const std::int64_t value = sqlite3_step(select_) == SQLITE_ROW ? sqlite3_column_int64(select_, 0) : 0;
  sqlite3_reset(select_);
  return value;
}

void KeptOpenConnection::begin() { run(begin_); }

void KeptOpenConnection::commit() { run(commit_); }

void KeptOpenConnection::run(sqlite3_stmt* statement) {
  sqlite3_step(statement);
  sqlite3_reset(statement);
}

}  // namespace benchsupport
