#pragma once

#include <memory>

#include "app/Coordinator.h"

namespace app {

// A Coordinator wired to the desktop's services (GIO opener, widget reload signal, the GLib
// main loop) and the process's broadcast picker; the same for every web engine. Main thread.
std::shared_ptr<Coordinator> makeDesktopCoordinator();

}  // namespace app
