// A "stats" message handled end to end by the app's Coordinator (JSON text parsed, field
// rules, store opened, the record written in one transaction, widget reload asked for).
// Its baseline, the five upserts in one transaction on a kept-open connection, is
// bench_store's BM_BaselineKeptOpenRecord.
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "app/Coordinator.h"
#include "app/CoordinatorServices.h"
#include "bench/support/BenchDataHome.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

constexpr const char* kStatsMessage =
    R"({"type":"stats","voice_seconds":18240,"streak_days":7,"best_streak":21,"username":"you"})";
constexpr double kNow = 1700000000.5;

using benchsupport::benchDataHome;

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

}  // namespace

BENCHMARK_MAIN();
