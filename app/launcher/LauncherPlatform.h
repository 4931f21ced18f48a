#pragma once

#include <memory>
#include <string>
#include <vector>

namespace app {

// How the picker is made: where it sits and what its chooser sheet offers.
struct PickerSettings {
  int x = 0;
  int y = 0;
  int width = 1;
  int height = 1;
  std::string preferredExtension;
  bool showsMicrophoneButton = false;
};

// One widget as the launcher sees it: the picker or one of its children. Main thread.
class LauncherView {
 public:
  LauncherView() = default;
  virtual ~LauncherView() = default;
  LauncherView(const LauncherView&) = delete;
  LauncherView& operator=(const LauncherView&) = delete;
  LauncherView(LauncherView&&) = delete;
  LauncherView& operator=(LauncherView&&) = delete;
  [[nodiscard]] virtual bool hasSuperview() const = 0;
  virtual void setAlpha(double alpha) = 0;
  // Without user interaction the view takes neither pointer, touch nor keyboard focus.
  virtual void setUserInteractionEnabled(bool enabled) = 0;
  // Direct children, in order.
  [[nodiscard]] virtual std::vector<std::unique_ptr<LauncherView>> subviews() const = 0;
  [[nodiscard]] virtual bool isButton() const = 0;
  // Activates a button exactly as the user's tap would.
  virtual void sendActions() = 0;
};

// One top-level window as the launcher sees it. Main thread.
class LauncherWindow {
 public:
  LauncherWindow() = default;
  virtual ~LauncherWindow() = default;
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;
  LauncherWindow(LauncherWindow&&) = delete;
  LauncherWindow& operator=(LauncherWindow&&) = delete;
  // The window the application counts as its active one (most recently focused).
  [[nodiscard]] virtual bool isApplicationActiveWindow() const = 0;
  // The window has the keyboard focus of the desktop.
  [[nodiscard]] virtual bool isActive() const = 0;
  // Places the view above the window's content at the view's own position and size.
  virtual void addSubview(LauncherView& view) = 0;
};

// The windowing system as the launcher needs it. Main thread.
class LauncherPlatform {
 public:
  LauncherPlatform() = default;
  virtual ~LauncherPlatform() = default;
  LauncherPlatform(const LauncherPlatform&) = delete;
  LauncherPlatform& operator=(const LauncherPlatform&) = delete;
  LauncherPlatform(LauncherPlatform&&) = delete;
  LauncherPlatform& operator=(LauncherPlatform&&) = delete;
  // The process's top-level windows in the platform's order.
  virtual std::vector<std::unique_ptr<LauncherWindow>> windows() = 0;
  virtual std::unique_ptr<LauncherView> makePicker(const PickerSettings& settings) = 0;
};

}  // namespace app
