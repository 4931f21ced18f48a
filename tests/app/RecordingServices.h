#pragma once

#include <string>
#include <vector>

#include "app/BroadcastLauncher.h"
#include "app/CoordinatorServices.h"
#include "platform/desktop/ExternalOpener.h"
#include "platform/desktop/TimelineReloader.h"

namespace apptest {

// Stands in for everything the Coordinator calls outside itself and writes each call
// into one log, so tests see what happened and in which order.
class RecordingServices final : public platform::desktop::ExternalOpener,
                                public platform::desktop::TimelineReloader,
                                public app::BroadcastLauncher {
 public:
  static constexpr double kNow = 1'700'000'123.25;

  void openExternally(const std::string& url) override { log.push_back("open " + url); }
  void reloadAllTimelines() override { log.push_back("reload"); }
  void startBroadcast() override { log.push_back("startBroadcast"); }

  app::CoordinatorServices services() {
    return app::CoordinatorServices{[] { return kNow; }, *this, *this, *this};
  }

  std::vector<std::string> log;
};

}  // namespace apptest
