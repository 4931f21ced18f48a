#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "app/launcher/BroadcastPickerHost.h"

namespace {

using namespace app;

// What happened to one fake view or window (hiddenWhenAttached: alpha and interaction were
// set before it was attached); the test keeps it and looks at it afterwards.
struct Node {
  bool button = false, applicationActive = false, focused = false, attached = false,
       hiddenWhenAttached = false;
  bool interactive = true;
  double alpha = 1.0;
  int presses = 0, subviewsAdded = 0;
  std::vector<Node> children;
};

struct FakeNode : LauncherView, LauncherWindow {
  explicit FakeNode(Node& state) : node(state) {}
  bool hasSuperview() const override { return node.attached; }
  void setAlpha(double alpha) override { node.alpha = alpha; }
  void setUserInteractionEnabled(bool enabled) override { node.interactive = enabled; }
  std::vector<std::unique_ptr<LauncherView>> subviews() const override {
    std::vector<std::unique_ptr<LauncherView>> views;
    for (auto& child : node.children) views.push_back(std::make_unique<FakeNode>(child));
    return views;
  }
  bool isButton() const override { return node.button; }
  void sendActions() override { ++node.presses; }
  bool isApplicationActiveWindow() const override { return node.applicationActive; }
  bool isActive() const override { return node.focused; }
  void addSubview(LauncherView& view) override {
    Node& picker = dynamic_cast<FakeNode&>(view).node;
    picker.hiddenWhenAttached = picker.alpha < 1.0 && !picker.interactive;
    picker.attached = true;
    ++node.subviewsAdded;
  }
  Node& node;
};

// Nodes from a pattern: "b" a button, "v" a plain view, "n" a plain view that holds a button;
// "A" the application's active window, "F" a focused window, "w" any other window.
std::vector<Node> nodes(const std::string& kinds) {
  std::vector<Node> result(kinds.size());
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    result[i].button = kinds[i] == 'b';
    result[i].applicationActive = kinds[i] == 'A';
    result[i].focused = kinds[i] == 'F';
    if (kinds[i] == 'n') result[i].children = nodes("b");
  }
  return result;
}

struct FakePlatform : LauncherPlatform {
  std::vector<std::unique_ptr<LauncherWindow>> windows() override {
    std::vector<std::unique_ptr<LauncherWindow>> result;
    for (auto& window : windowNodes) result.push_back(std::make_unique<FakeNode>(window));
    return result;
  }
  std::unique_ptr<LauncherView> makePicker(const PickerSettings& /*settings*/) override {
    ++made;
    return std::make_unique<FakeNode>(picker);
  }
  std::vector<Node> windowNodes;
  Node picker;
  int made = 0;
};

// A host on a fake platform that the test still looks into.
struct Launcher {
  FakePlatform& platform = *new FakePlatform;
  BroadcastPickerHost host{std::unique_ptr<LauncherPlatform>(&platform)};
};

TEST(BroadcastPickerHostTest, PressesTheFirstDirectButtonOfThePickerOnTheKeyWindowOrDoesNothing) {
  // The windows and the picker's children; how often each window got the picker, and the
  // presses of every view below the picker in tree order.
  const std::tuple<std::string, std::string, std::vector<int>, std::vector<int>> cases[] = {
      {"", "b", {}, {0}},         {"ww", "b", {0, 0}, {0}},     {"wA", "b", {0, 1}, {1}},
      {"FA", "b", {0, 1}, {1}},   {"wFF", "b", {0, 1, 0}, {1}}, {"A", "", {1}, {}},
      {"A", "vv", {1}, {0, 0}},   {"A", "vbb", {1}, {0, 1, 0}}, {"A", "bvb", {1}, {1, 0, 0}},
      {"A", "nb", {1}, {0, 0, 1}}};
  for (const auto& [windows, children, attached, presses] : cases) {
    SCOPED_TRACE(windows + " " + children);
    Launcher launcher;
    FakePlatform& platform = launcher.platform;
    platform.windowNodes = nodes(windows);
    platform.picker.children = nodes(children);
    launcher.host.startBroadcast();
    std::vector<int> seenAttached, seenPresses;
    for (const auto& window : platform.windowNodes) seenAttached.push_back(window.subviewsAdded);
    for (const auto& view : platform.picker.children) {
      seenPresses.push_back(view.presses);
      for (const auto& below : view.children) seenPresses.push_back(below.presses);
    }
    EXPECT_EQ(seenAttached, attached);
    EXPECT_EQ(seenPresses, presses);
    EXPECT_EQ(platform.made, std::count(attached.begin(), attached.end(), 1))
        << "no picker without a key window";
    EXPECT_EQ(platform.picker.presses, 0) << "the picker itself is not pressed";
  }
}

TEST(BroadcastPickerHostTest, MakesAndAttachesTheHiddenPickerOnceAndPressesItEachTime) {
  Launcher launcher;
  FakePlatform& platform = launcher.platform;
  BroadcastPickerHost& host = launcher.host;
  platform.windowNodes = nodes("w");
  platform.picker.children = nodes("b");
  host.startBroadcast();  // no key window yet
  platform.windowNodes[0].applicationActive = true;
  host.startBroadcast();
  EXPECT_DOUBLE_EQ(platform.picker.alpha, 0.01);
  EXPECT_FALSE(platform.picker.interactive);
  EXPECT_TRUE(platform.picker.hiddenWhenAttached) << "never visible to the user, not even briefly";
  // Another window is key now; the picker stays where it was and is pressed again.
  platform.windowNodes[0].applicationActive = false;
  platform.windowNodes.push_back(nodes("A")[0]);
  host.startBroadcast();
  host.startBroadcast();
  EXPECT_EQ(platform.made, 1);
  EXPECT_EQ(platform.windowNodes[0].subviewsAdded, 1);
  EXPECT_EQ(platform.windowNodes[1].subviewsAdded, 0);
  EXPECT_EQ(platform.picker.children[0].presses, 3);
}

}  // namespace
