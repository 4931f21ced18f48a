#include "app/DesktopCoordinator.h"

#include <chrono>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/desktop/SystemOpener.h"
#include "platform/desktop/WidgetCenter.h"
#include "platform/dispatch/MainLoopQueue.h"

namespace app {
namespace {

// Starts the process's one broadcast picker.
class PickerHostLauncher final : public BroadcastLauncher {
 public:
  void startBroadcast() override { BroadcastPickerHost::shared().startBroadcast(); }
};

double secondsSince1970() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::shared_ptr<Coordinator> makeDesktopCoordinator() {
  static PickerHostLauncher launcher;
  return std::make_shared<Coordinator>(CoordinatorServices{
      secondsSince1970, platform::desktop::WidgetCenter::shared(), launcher,
      platform::desktop::SystemOpener::shared(), platform::dispatch::MainLoopQueue::shared(),
      [] { return std::chrono::steady_clock::now(); }});
}

}  // namespace app
