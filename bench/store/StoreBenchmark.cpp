// One accessor operation (open the suite, write or read one key, let go) against the
// same statement on one SQLite connection kept open, in the same run and on the same
// file settings (WAL, synchronous NORMAL).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/support/BenchDataHome.h"
#include "bench/support/KeptOpenConnection.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

using benchsupport::benchDataHome;
using benchsupport::KeptOpenConnection;

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
