#pragma once

#include <string>
#include <vector>

#include "app/BroadcastLauncher.h"
#include "app/CoordinatorServices.h"
#include "platform/desktop/ExternalOpener.h"
#include "platform/desktop/TimelineReloader.h"

namespace apptest {

// Stands in for all the Coordinator calls outside itself, logging each call. Test thread.
struct RecordingServices final : platform::desktop::ExternalOpener,
                                 platform::desktop::TimelineReloader,
                                 app::BroadcastLauncher {
  static constexpr double kNow = 1'700'000'123.25;

  void openExternally(const std::string& url) override { log.push_back("open " + url); }
  void reloadAllTimelines() override { log.push_back("reload"); }
  void startBroadcast() override { log.push_back("startBroadcast"); }
  app::CoordinatorServices services() {
    return {[] { return kNow; }, *this, *this, *this};
  }

  std::vector<std::string> log;
};

}  // namespace apptest
