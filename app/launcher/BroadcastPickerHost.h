#pragma once

#include <memory>

#include "app/launcher/LauncherPlatform.h"

namespace app {

// Opens the broadcast chooser preselected on the app's broadcast extension by pressing
// the button of a hidden picker kept on the key window. Main thread.
class BroadcastPickerHost {
 public:
  // The process's one host, on the GTK windows; made on first use, never destroyed.
  static BroadcastPickerHost& shared();

  explicit BroadcastPickerHost(std::unique_ptr<LauncherPlatform> platform);

  // The picker, made with its settings on the first read and kept from then on.
  LauncherView& picker();

  // Attaches the picker to the key window once and presses its button; without a key
  // window nothing happens and no picker is made.
  void startBroadcast();

 private:
  std::unique_ptr<LauncherPlatform> platform_;
  std::unique_ptr<LauncherView> picker_;
};

}  // namespace app
