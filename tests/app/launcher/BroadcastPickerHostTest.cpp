// Which window gets the picker and which of its children is pressed. How the picker sits
// and that each press opens a sheet shows on both toolkits in LauncherTest.
#include <gtest/gtest.h>

#include <tuple>

#include "app/launcher/BroadcastPickerHost.h"

namespace {

using namespace app;
using Log = std::vector<std::string>;

// A window or view named by its place, of one kind: "A" the application's active window,
// "F" a focused window, "w" another; "b" a button, "v" a view, "n" a view holding a button.
// It logs what is done to it.
struct Fake final : LauncherView, LauncherWindow {
  Fake(char ofKind, std::string named, std::string holding, Log& into)
      : kind(ofKind), name(std::move(named)), children(std::move(holding)), log(into) {}
  bool hasSuperview() const override { return false; }
  void setAlpha(double /*alpha*/) override {}
  void setUserInteractionEnabled(bool /*enabled*/) override {}
  std::vector<std::unique_ptr<LauncherView>> subviews() const override {
    std::vector<std::unique_ptr<LauncherView>> views;
    for (std::size_t i = 0; i < children.size(); ++i)
      views.push_back(
          std::make_unique<Fake>(children[i], name + std::to_string(i), children[i] == 'n' ? "b" : "", log));
    return views;
  }
  bool isButton() const override { return kind == 'b'; }
  void sendActions() override { log.push_back("press " + name); }
  bool isApplicationActiveWindow() const override { return kind == 'A'; }
  bool isActive() const override { return kind == 'F'; }
  void addSubview(LauncherView& /*view*/) override { log.push_back("attach to " + name); }
  char kind;
  std::string name, children;
  Log& log;
};

struct FakePlatform final : LauncherPlatform {
  FakePlatform(std::string windows, std::string inPicker, Log& into)
      : windowKinds(std::move(windows)), pickerChildren(std::move(inPicker)), log(into) {}
  std::vector<std::unique_ptr<LauncherWindow>> windows() override {
    std::vector<std::unique_ptr<LauncherWindow>> windows;
    for (std::size_t i = 0; i < windowKinds.size(); ++i)
      windows.push_back(std::make_unique<Fake>(windowKinds[i], "window" + std::to_string(i), "", log));
    return windows;
  }
  std::unique_ptr<LauncherView> makePicker(const PickerSettings& /*settings*/) override {
    return std::make_unique<Fake>('v', "picker", pickerChildren, log);
  }
  std::string windowKinds, pickerChildren;
  Log& log;
};

TEST(BroadcastPickerHostTest, TheKeyWindowGetsThePickerAndItsFirstDirectButtonIsPressed) {
  const std::tuple<std::string, std::string, Log> cases[] = {
      {"", "b", {}},
      {"ww", "b", {}},
      {"wA", "b", {"attach to window1", "press picker0"}},
      {"FA", "b", {"attach to window1", "press picker0"}},
      {"wFF", "b", {"attach to window1", "press picker0"}},
      {"A", "vv", {"attach to window0"}},
      {"A", "vbb", {"attach to window0", "press picker1"}},
      {"A", "nb", {"attach to window0", "press picker1"}}};
  for (const auto& [windows, children, expected] : cases) {
    Log log;
    BroadcastPickerHost(std::make_unique<FakePlatform>(windows, children, log)).startBroadcast();
    EXPECT_EQ(log, expected) << windows << " " << children;
  }
}

}  // namespace
