// A "stats" message handled end to end by the app's Coordinator (JSON text parsed, field
// rules, store opened, five writes, widget reload asked for) against the five upserts it
// needs on one SQLite connection kept open with prepared statements and the store's
// pragmas, in the same run and in the same folder.
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "app/Coordinator.h"
#include "app/CoordinatorServices.h"
#include "bench/support/BenchDataHome.h"
#include "bench/support/KeptOpenConnection.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

constexpr const char* kStatsMessage =
    R"({"type":"stats","voice_seconds":18240,"streak_days":7,"best_streak":21,"username":"you"})";
constexpr double kNow = 1700000000.5;

using benchsupport::benchDataHome;
using benchsupport::KeptOpenConnection;

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
// The main queue's turn comes right after each message, as it does in the app when the
// page posts no faster than the store writes.
class TurnQueue final : public platform::dispatch::MainQueue {
 public:
  void post(std::function<void()> work) override { work_ = std::move(work); }
  void runTurn() { std::exchange(work_, nullptr)(); }

 private:
  std::function<void()> work_;
};

void BM_StatsMessage(benchmark::State& state) {
  benchDataHome();
  NoReload reload;
  NoLauncher launcher;
  NoOpener opener;
  TurnQueue queue;
  app::Coordinator coordinator(app::CoordinatorServices{[] { return kNow; }, reload, launcher, opener, queue,
                                                        [] { return std::chrono::steady_clock::now(); }});
  for (auto _ : state) {
    coordinator.userContentController(kStatsMessage);
    queue.runTurn();
  }
  if (shared::SharedStore::open()->integer(shared::keys::kVoiceSeconds) != 18240) {
    state.SkipWithError("the message was not stored");
  }
}
BENCHMARK(BM_StatsMessage);

void BM_BaselineFiveUpserts(benchmark::State& state) {
  KeptOpenConnection connection(benchDataHome() / "baseline.sqlite3");
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
