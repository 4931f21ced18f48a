#pragma once

#include <memory>
#include <vector>

#include "app/launcher/LauncherPlatform.h"

namespace app {

// The launcher's windowing system on Qt widgets: the application's top-level windows and
// the platform's broadcast picker view. Main thread.
class QtLauncherPlatform : public LauncherPlatform {
 public:
  std::vector<std::unique_ptr<LauncherWindow>> windows() override;
  std::unique_ptr<LauncherView> makePicker(const PickerSettings& settings) override;
};

}  // namespace app
