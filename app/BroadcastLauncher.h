#pragma once

namespace app {

// Opens the screen-broadcast chooser at the page's request. Called on the main thread.
// The app passes the process's BroadcastPickerHost; tests record instead.
class BroadcastLauncher {
 public:
  virtual ~BroadcastLauncher() = default;
  virtual void startBroadcast() = 0;
};

}  // namespace app
