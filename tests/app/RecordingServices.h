#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/BroadcastLauncher.h"
#include "app/CoordinatorServices.h"
#include "platform/desktop/ExternalOpener.h"
#include "platform/desktop/TimelineReloader.h"
#include "platform/dispatch/MainQueue.h"

namespace apptest {

// Every service the Coordinator calls outside itself, logging each call. Work posted
// to the main queue waits for runMainQueue(); the steady clock moves only when told.
// Test thread.
struct RecordingServices final : platform::desktop::ExternalOpener,
                                 platform::desktop::TimelineReloader,
                                 app::BroadcastLauncher,
                                 platform::dispatch::MainQueue {
  static constexpr double kNow = 1'700'000'123.25;

  void openExternally(const std::string& url) override { log.push_back("open " + url); }
  void reloadAllTimelines() override { log.push_back("reload"); }
  void startBroadcast() override { log.push_back("startBroadcast"); }
  void post(std::function<void()> work) override { queued.push_back(std::move(work)); }
  void runMainQueue() {
    for (auto work = std::move(queued); auto& item : work) item();
  }
  app::CoordinatorServices services() { return services(*this); }
  // With another main queue, such as the real main loop's in engine tests.
  app::CoordinatorServices services(platform::dispatch::MainQueue& mainQueue) {
    return {[] { return kNow; }, *this, *this, *this, mainQueue, [this] { return steadyNow; }};
  }

  std::vector<std::string> log;
  std::vector<std::function<void()>> queued;
  std::chrono::steady_clock::time_point steadyNow{};
};

}  // namespace apptest
