// A "stats" message handled end to end by the app's Coordinator (JSON text parsed, field
// rules, store opened, five writes, widget reload asked for) against the five upserts it
// needs on one SQLite connection kept open with prepared statements and the store's
// pragmas, in the same run and in the same folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/Coordinator.h"
#include "app/CoordinatorServices.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStatsMessage =
    R"({"type":"stats","voice_seconds":18240,"streak_days":7,"best_streak":21,"username":"you"})";
constexpr double kNow = 1700000000.5;

// Points XDG_DATA_HOME at a fresh folder for the whole run.
struct BenchDataHome {
  BenchDataHome() {
    std::string pattern = (fs::temp_directory_path() / "sorn-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    setenv("XDG_DATA_HOME", root.c_str(), 1);
  }
  ~BenchDataHome() { fs::remove_all(root); }
  BenchDataHome(const BenchDataHome&) = delete;
  BenchDataHome& operator=(const BenchDataHome&) = delete;
  fs::path root;
};

const fs::path& dataHome() {
  static const BenchDataHome home;
  return home.root;
}

// The services a "stats" message reaches besides the store, doing nothing: the reload
// crosses to another process and is measured with the widgets.
class NoReload final : public platform::desktop::TimelineReloader {
 public:
  void reloadAllTimelines() override {}
};
class NoLauncher final : public app::BroadcastLauncher {
 public:
  void startBroadcast() override {}
};
class NoOpener final : public platform::desktop::ExternalOpener {
 public:
  void openExternally(const std::string& /*url*/) override {}
};

void BM_StatsMessage(benchmark::State& state) {
  dataHome();
  NoReload reload;
  NoLauncher launcher;
  NoOpener opener;
  const app::Coordinator coordinator(app::CoordinatorServices{[] { return kNow; }, reload, launcher, opener});
  for (auto _ : state) coordinator.userContentController(kStatsMessage);
  if (shared::SharedStore::open()->integer(shared::keys::kVoiceSeconds) != 18240) {
    state.SkipWithError("the message was not stored");
  }
}
BENCHMARK(BM_StatsMessage);

// One connection on a file of its own with the store's settings and statement.
class KeptOpenConnection {
 public:
  KeptOpenConnection() {
    const fs::path file = dataHome() / "baseline.sqlite3";
    sqlite3_open(file.c_str(), &db_);
    sqlite3_exec(db_,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                 "PRAGMA journal_size_limit = 1048576; PRAGMA wal_autocheckpoint = 256;"
                 "CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v3(db_, "INSERT OR REPLACE INTO entries (key, value) VALUES (?1, ?2)", -1,
                       SQLITE_PREPARE_PERSISTENT, &upsert_, nullptr);
  }
  ~KeptOpenConnection() {
    sqlite3_finalize(upsert_);
    sqlite3_close(db_);
  }
  KeptOpenConnection(const KeptOpenConnection&) = delete;
  KeptOpenConnection& operator=(const KeptOpenConnection&) = delete;

  void writeInteger(const char* key, std::int64_t value) {
    sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(upsert_, 2, value);
    run();
  }
  void writeDouble(const char* key, double value) {
    sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_double(upsert_, 2, value);
    run();
  }
  void writeText(const char* key, const char* value) {
    sqlite3_bind_text(upsert_, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_text(upsert_, 2, value, -1, SQLITE_STATIC);
    run();
  }

 private:
  void run() {
    sqlite3_step(upsert_);
    sqlite3_reset(upsert_);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
};

void BM_BaselineFiveUpserts(benchmark::State& state) {
  KeptOpenConnection connection;
  for (auto _ : state) {
    connection.writeInteger(shared::keys::kVoiceSeconds, 18240);
    connection.writeInteger(shared::keys::kStreakDays, 7);
    connection.writeInteger(shared::keys::kBestStreak, 21);
    connection.writeText(shared::keys::kUsername, "you");
    connection.writeDouble(shared::keys::kStatsUpdatedAt, kNow);
  }
}
BENCHMARK(BM_BaselineFiveUpserts);

}  // namespace

BENCHMARK_MAIN();
