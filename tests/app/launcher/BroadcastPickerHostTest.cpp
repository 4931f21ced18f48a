#include "app/launcher/BroadcastPickerHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace app {
namespace {

// What happened to one fake view, kept apart from the view objects that the host may
// receive and drop again.
struct ViewState {
  bool button = false;
  int presses = 0;
  bool hasSuperview = false;
  double alpha = 1.0;
  bool userInteractionEnabled = true;
  // Whether alpha and interaction were already set when the view was attached.
  bool hiddenWhenAttached = false;
  std::vector<std::shared_ptr<ViewState>> children;
};

class FakeView : public LauncherView {
 public:
  explicit FakeView(std::shared_ptr<ViewState> state) : state_(std::move(state)) {}
  [[nodiscard]] bool hasSuperview() const override { return state_->hasSuperview; }
  void setAlpha(double alpha) override { state_->alpha = alpha; }
  void setUserInteractionEnabled(bool enabled) override { state_->userInteractionEnabled = enabled; }
  [[nodiscard]] std::vector<std::unique_ptr<LauncherView>> subviews() const override {
    std::vector<std::unique_ptr<LauncherView>> views;
    for (const auto& child : state_->children) views.push_back(std::make_unique<FakeView>(child));
    return views;
  }
  [[nodiscard]] bool isButton() const override { return state_->button; }
  void sendActions() override { ++state_->presses; }
  ViewState& state() { return *state_; }

 private:
  std::shared_ptr<ViewState> state_;
};

struct WindowState {
  std::string name;
  bool applicationActive = false;
  bool active = false;
  int attached = 0;
};

class FakeWindow : public LauncherWindow {
 public:
  explicit FakeWindow(std::shared_ptr<WindowState> state) : state_(std::move(state)) {}
  [[nodiscard]] bool isApplicationActiveWindow() const override { return state_->applicationActive; }
  [[nodiscard]] bool isActive() const override { return state_->active; }
  void addSubview(LauncherView& view) override {
    auto& picker = dynamic_cast<FakeView&>(view).state();
    picker.hiddenWhenAttached = picker.alpha < 1.0 && !picker.userInteractionEnabled;
    picker.hasSuperview = true;
    ++state_->attached;
  }

 private:
  std::shared_ptr<WindowState> state_;
};

class FakePlatform : public LauncherPlatform {
 public:
  std::vector<std::unique_ptr<LauncherWindow>> windows() override {
    std::vector<std::unique_ptr<LauncherWindow>> result;
    for (const auto& window : windowStates) result.push_back(std::make_unique<FakeWindow>(window));
    return result;
  }
  std::unique_ptr<LauncherView> makePicker(const PickerSettings& settings) override {
    made.push_back(settings);
    return std::make_unique<FakeView>(picker);
  }

  std::vector<std::shared_ptr<WindowState>> windowStates;
  std::vector<PickerSettings> made;
  std::shared_ptr<ViewState> picker = std::make_shared<ViewState>();
};

std::shared_ptr<WindowState> window(const char* name, bool applicationActive, bool active) {
  return std::make_shared<WindowState>(WindowState{name, applicationActive, active, 0});
}

std::shared_ptr<ViewState> child(bool button) {
  auto state = std::make_shared<ViewState>();
  state->button = button;
  return state;
}

// The host with a fake platform it does not own, so the test can look at it afterwards.
struct HostUnderTest {
  HostUnderTest() {
    auto owned = std::make_unique<FakePlatform>();
    platform = owned.get();
    host = std::make_unique<BroadcastPickerHost>(std::move(owned));
    platform->picker->children = {child(true)};
  }
  FakePlatform* platform;
  std::unique_ptr<BroadcastPickerHost> host;
};

TEST(BroadcastPickerHostTest, AttachesToTheKeyWindowOrDoesNothing) {
  struct Case {
    const char* what;
    std::vector<std::shared_ptr<WindowState>> windows;
    const char* keyWindow;  // null: none
  };
  const std::vector<Case> cases = {
      {"no window", {}, nullptr},
      {"no window active", {window("a", false, false), window("b", false, false)}, nullptr},
      {"the application's active window", {window("a", false, false), window("b", true, false)}, "b"},
      {"the application's active window before a focused one",
       {window("focused", false, true), window("app", true, false)},
       "app"},
      {"without an application window, the first focused one",
       {window("a", false, false), window("b", false, true), window("c", false, true)},
       "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HostUnderTest test;
    test.platform->windowStates = c.windows;
    test.host->startBroadcast();

    for (const auto& w : c.windows) EXPECT_EQ(w->attached, c.keyWindow != nullptr && w->name == c.keyWindow) << w->name;
    if (c.keyWindow == nullptr) {
      EXPECT_TRUE(test.platform->made.empty()) << "no picker without a key window";
      EXPECT_EQ(test.platform->picker->children.front()->presses, 0);
    } else {
      EXPECT_EQ(test.platform->made.size(), 1U);
      EXPECT_EQ(test.platform->picker->children.front()->presses, 1);
    }
  }
}

TEST(BroadcastPickerHostTest, MakesAndAttachesThePickerOnceAndPressesItEachTime) {
  HostUnderTest test;
  auto first = window("first", true, true);
  test.platform->windowStates = {first};
  test.host->startBroadcast();

  ASSERT_EQ(test.platform->made.size(), 1U);
  const PickerSettings& settings = test.platform->made.front();
  EXPECT_EQ(settings.x, 0);
  EXPECT_EQ(settings.y, 0);
  EXPECT_EQ(settings.width, 1);
  EXPECT_EQ(settings.height, 1);
  EXPECT_EQ(settings.preferredExtension, "com.tarnwell.sorn.broadcast");
  EXPECT_FALSE(settings.showsMicrophoneButton);
  const ViewState& picker = *test.platform->picker;
  EXPECT_DOUBLE_EQ(picker.alpha, 0.01);
  EXPECT_FALSE(picker.userInteractionEnabled);
  EXPECT_TRUE(picker.hiddenWhenAttached) << "the picker is never visible to the user, not even briefly";

  // Another window is key now; the picker stays where it was and is pressed again.
  first->applicationActive = false;
  auto second = window("second", true, true);
  test.platform->windowStates = {first, second};
  test.host->startBroadcast();
  test.host->startBroadcast();

  EXPECT_EQ(test.platform->made.size(), 1U);
  EXPECT_EQ(first->attached, 1);
  EXPECT_EQ(second->attached, 0);
  EXPECT_EQ(picker.children.front()->presses, 3);
  EXPECT_EQ(&test.host->picker(), &test.host->picker());
}

TEST(BroadcastPickerHostTest, AfterARequestWithoutKeyWindowALaterOneWorks) {
  HostUnderTest test;
  auto later = window("later", false, false);
  test.platform->windowStates = {later};
  test.host->startBroadcast();
  EXPECT_TRUE(test.platform->made.empty());

  later->applicationActive = true;
  test.host->startBroadcast();
  EXPECT_EQ(test.platform->made.size(), 1U);
  EXPECT_EQ(later->attached, 1);
  EXPECT_EQ(test.platform->picker->children.front()->presses, 1);
}

TEST(BroadcastPickerHostTest, PressesOnlyTheFirstButtonAmongTheDirectChildren) {
  struct Case {
    const char* what;
    std::vector<bool> childrenAreButtons;
    std::vector<int> presses;
  };
  const Case cases[] = {
      {"no children", {}, {}},
      {"no button", {false, false}, {0, 0}},
      {"a button after other views", {false, true, true}, {0, 1, 0}},
      {"a button first", {true, false, true}, {1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HostUnderTest test;
    test.platform->windowStates = {window("key", true, true)};
    test.platform->picker->children.clear();
    for (const bool button : c.childrenAreButtons) test.platform->picker->children.push_back(child(button));
    test.host->startBroadcast();

    std::vector<int> presses;
    for (const auto& view : test.platform->picker->children) presses.push_back(view->presses);
    EXPECT_EQ(presses, c.presses);
    EXPECT_EQ(test.platform->picker->presses, 0) << "the picker itself is not pressed";
  }

  // A button below a direct child is not the picker's button.
  HostUnderTest test;
  test.platform->windowStates = {window("key", true, true)};
  auto container = child(false);
  container->children = {child(true)};
  test.platform->picker->children = {container};
  test.host->startBroadcast();
  EXPECT_EQ(container->children.front()->presses, 0);
}

}  // namespace
}  // namespace app
