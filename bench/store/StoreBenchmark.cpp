// One accessor operation (open the suite, write or read one key, or write a whole
// statistics record in one transaction, let go) against the same statements on one
// SQLite connection kept open, in the same run and on the same file settings (WAL,
// synchronous NORMAL).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/support/BenchDataHome.h"
#include "bench/support/KeptOpenConnection.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

using benchsupport::benchDataHome;
using benchsupport::KeptOpenConnection;

constexpr double kUpdatedAt = 1700000000.5;

void BM_AccessorWrite(benchmark::State& state) {
  benchDataHome();
  std::int64_t n = 0;
  for (auto _ : state) {
    auto store = shared::SharedStore::open();
    store->setInteger(shared::keys::kVoiceSeconds, ++n);
  }
}
BENCHMARK(BM_AccessorWrite);

void BM_BaselineKeptOpenWrite(benchmark::State& state) {
  KeptOpenConnection connection(benchDataHome() / "baseline.sqlite3");
  std::int64_t n = 0;
  for (auto _ : state) connection.writeInteger(shared::keys::kVoiceSeconds, ++n);
}
BENCHMARK(BM_BaselineKeptOpenWrite);

// The record a "stats" message leaves, written as the app writes it: the store opened,
// the five keys in one transaction.
void BM_StatsRecordWrite(benchmark::State& state) {
  benchDataHome();
  std::int64_t n = 0;
  for (auto _ : state) {
    auto store = shared::SharedStore::open();
    store->write(shared::StoreChanges()
                     .setInteger(shared::keys::kVoiceSeconds, ++n)
                     .setInteger(shared::keys::kStreakDays, 7)
                     .setInteger(shared::keys::kBestStreak, 21)
                     .setString(shared::keys::kUsername, "you")
                     .setDouble(shared::keys::kStatsUpdatedAt, kUpdatedAt));
  }
  if (shared::SharedStore::open()->integer(shared::keys::kVoiceSeconds) != n) {
    state.SkipWithError("the record was not stored");
  }
}
BENCHMARK(BM_StatsRecordWrite);

void BM_BaselineKeptOpenRecord(benchmark::State& state) {
  KeptOpenConnection connection(benchDataHome() / "baseline.sqlite3");
  std::int64_t n = 0;
  for (auto _ : state) {
    connection.begin();
    connection.writeInteger(shared::keys::kVoiceSeconds, ++n);
    connection.writeInteger(shared::keys::kStreakDays, 7);
    connection.writeInteger(shared::keys::kBestStreak, 21);
    connection.writeText(shared::keys::kUsername, "you");
    connection.writeDouble(shared::keys::kStatsUpdatedAt, kUpdatedAt);
    connection.commit();
  }
}
BENCHMARK(BM_BaselineKeptOpenRecord);

void BM_AccessorRead(benchmark::State& state) {
  benchDataHome();
  shared::SharedStore::open()->setInteger(shared::keys::kStreakDays, 7);
  for (auto _ : state) {
    auto store = shared::SharedStore::open();
    benchmark::DoNotOptimize(store->integer(shared::keys::kStreakDays));
  }
}
BENCHMARK(BM_AccessorRead);

void BM_BaselineKeptOpenRead(benchmark::State& state) {
  KeptOpenConnection connection(benchDataHome() / "baseline.sqlite3");
  connection.writeInteger(shared::keys::kStreakDays, 7);
  for (auto _ : state) benchmark::DoNotOptimize(connection.readInteger(shared::keys::kStreakDays));
}
BENCHMARK(BM_BaselineKeptOpenRead);

}  // namespace

BENCHMARK_MAIN();
