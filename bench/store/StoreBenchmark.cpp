// One accessor operation (open the suite, write or read one key, let go) against the
// same statement on one SQLite connection kept open, in the same run and on the same
// file settings (WAL, synchronous NORMAL).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

namespace fs = std::filesystem;

// Points XDG_DATA_HOME at a fresh folder for the whole run.
struct BenchDataHome {
  BenchDataHome() {
    std::string pattern = (fs::temp_directory_path() / "sorn-bench-XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("XDG_DATA_HOME", root.c_str(), 1);
  }
  ~BenchDataHome() { fs::remove_all(root); }
  fs::path root;
};

BenchDataHome& dataHome() {
  static BenchDataHome home;
  return home;
}

class KeptOpenConnection {
 public:
  KeptOpenConnection() {
    const fs::path file = dataHome().root / "baseline.sqlite3";
    sqlite3_open(file.c_str(), &db_);
    sqlite3_exec(db_,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                 "CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO entries (key, value) VALUES (?1, ?2)", -1, &upsert_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT value FROM entries WHERE key = ?1", -1, &select_, nullptr);
  }
  ~KeptOpenConnection() {
    sqlite3_finalize(upsert_);
    sqlite3_finalize(select_);
    sqlite3_close(db_);
  }
  KeptOpenConnection(const KeptOpenConnection&) = delete;
  KeptOpenConnection& operator=(const KeptOpenConnection&) = delete;

  void write(const char* key, std::int64_t value) {
    sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(upsert_, 2, value);
    sqlite3_step(upsert_);
    sqlite3_reset(upsert_);
  }
  std::int64_t read(const char* key) {
    sqlite3_bind_text(select_, 1, key, -1, SQLITE_STATIC);
    std::int64_t value = sqlite3_step(select_) == SQLITE_ROW ? sqlite3_column_int64(select_, 0) : 0;
    sqlite3_reset(select_);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

void BM_AccessorWrite(benchmark::State& state) {
  dataHome();
  std::int64_t n = 0;
  for (auto _ : state) {
    auto store = shared::SharedStore::open();
    store->setInteger(shared::keys::kVoiceSeconds, ++n);
  }
}
BENCHMARK(BM_AccessorWrite);

void BM_BaselineKeptOpenWrite(benchmark::State& state) {
  KeptOpenConnection connection;
  std::int64_t n = 0;
  for (auto _ : state) connection.write(shared::keys::kVoiceSeconds, ++n);
}
BENCHMARK(BM_BaselineKeptOpenWrite);

void BM_AccessorRead(benchmark::State& state) {
  dataHome();
  shared::SharedStore::open()->setInteger(shared::keys::kStreakDays, 7);
  for (auto _ : state) {
    auto store = shared::SharedStore::open();
    benchmark::DoNotOptimize(store->integer(shared::keys::kStreakDays));
  }
}
BENCHMARK(BM_AccessorRead);

void BM_BaselineKeptOpenRead(benchmark::State& state) {
  KeptOpenConnection connection;
  connection.write(shared::keys::kStreakDays, 7);
  for (auto _ : state) benchmark::DoNotOptimize(connection.read(shared::keys::kStreakDays));
}
BENCHMARK(BM_BaselineKeptOpenRead);

}  // namespace

BENCHMARK_MAIN();
