#include "app/launcher/BroadcastPickerHost.h"

#include <utility>

#include "shared/Constants.h"

namespace app {
namespace {

// Nearly transparent but not hidden: a hidden picker could not present its sheet.
constexpr double kAttachedPickerAlpha = 0.01;

// The application's active window; failing that, the first window with the focus.
LauncherWindow* findKeyWindow(const std::vector<std::unique_ptr<LauncherWindow>>& windows) {
  for (const auto& window : windows) {
    if (window->isApplicationActiveWindow()) return window.get();
  }
  for (const auto& window : windows) {
    if (window->isActive()) return window.get();
  }
  return nullptr;
}

}  // namespace

BroadcastPickerHost::BroadcastPickerHost(std::unique_ptr<LauncherPlatform> platform)
    : platform_(std::move(platform)) {}

LauncherView& BroadcastPickerHost::picker() {
  if (!picker_) {
    picker_ = platform_->makePicker(PickerSettings{.x = 0,
                                                   .y = 0,
                                                   .width = 1,
                                                   .height = 1,
                                                   .preferredExtension = shared::kBroadcastExtensionId,
                                                   .showsMicrophoneButton = false});
  }
  return *picker_;
}

void BroadcastPickerHost::startBroadcast() {
  const auto windows = platform_->windows();
  LauncherWindow* keyWindow = findKeyWindow(windows);
  if (keyWindow == nullptr) return;

  LauncherView& view = picker();
  // Once attached the picker stays where it is, even when another window is key now.
  if (!view.hasSuperview()) {
    view.setAlpha(kAttachedPickerAlpha);
    view.setUserInteractionEnabled(false);
    keyWindow->addSubview(view);
  }
  for (const auto& child : view.subviews()) {
    if (child->isButton()) {
      child->sendActions();
      return;
    }
  }
}

}  // namespace app
