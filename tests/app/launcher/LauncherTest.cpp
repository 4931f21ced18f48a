// The launcher, its picker and the chooser sheet on a real toolkit: built once with the
// GTK harness and once with the Qt one.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/screencast/picker/BroadcastChoice.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/TempDataDir.h"

#ifdef SORN_TEST_QT
#include "tests/app/launcher/QtLauncherHarness.h"
#else
#include "tests/app/launcher/GtkLauncherHarness.h"
#endif

namespace app {
namespace {

using platform::screencast::BroadcastChoice;
using Strings = std::vector<std::string>;
using Sheet = testsupport::LauncherHarness::Sheet;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No system-wide extension may stand in for the ones a test writes.
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
  }
  void install(const std::string& id, const std::string& exec, const std::string& name = "Test Broadcast") {
    auto keys = extension_.metadataKeys(id, name);
    keys["Exec"] = exec;
    testsupport::FakeExtension::writeMetadata(dir_.dataHome(), id, keys);
  }
  // Attaches a new picker with these settings to the key window and presses its button,
  // as the launcher does; the sheet it opened.
  Sheet press(const std::string& extensionId, bool showsMicrophone) {
    const auto platform = toolkit_.platform();
    const auto picker =
        platform->makePicker({.preferredExtension = extensionId, .showsMicrophoneButton = showsMicrophone});
    for (const auto& window : platform->windows()) {
      if (window->isApplicationActiveWindow()) window->addSubview(*picker);
    }
    for (const auto& child : picker->subviews()) {
      if (child->isButton()) child->sendActions();
    }
    const auto sheets = toolkit_.sheets();
    return sheets.size() == 1 ? sheets.front() : nullptr;
  }
  // No sheet is open, and the app's window is the only one left.
  bool sheetClosed() {
    return testsupport::spinUntil([&] { return toolkit_.sheets().empty() && toolkit_.windowCount() == 1; });
  }

  testsupport::TempDataDir dir_;
  testsupport::FakeExtension extension_{dir_.root() / "bin"};
  testsupport::LauncherHarness toolkit_;
};

TEST_F(LauncherTest, MakesThePickerOnceAttachedHiddenToTheKeyWindowAndItsButtonShowsTheSheet) {
  install("com.tarnwell.sorn.broadcast", extension_.program().string(), "Sorn Broadcast");
  BroadcastPickerHost host(toolkit_.platform());
  host.startBroadcast();
  EXPECT_EQ(toolkit_.windowCount(), 0U) << "without a window nothing happens";
  EXPECT_FALSE(host.picker().hasSuperview()) << "nor was the picker attached anywhere";

  toolkit_.openWindow();
  host.startBroadcast();
  const auto pickers = toolkit_.pickers();
  ASSERT_EQ(pickers.size(), 1U) << "the picker sits above the window's content, which stays as it was";
  EXPECT_NEAR(toolkit_.pickerOpacity(), 0.01, 1.0 / 255);
  EXPECT_EQ(toolkit_.pickerFrame(), (std::array<int, 4>{0, 0, 1, 1})) << "1 x 1 in the top-left corner";

  auto sheets = toolkit_.sheets();
  ASSERT_EQ(sheets.size(), 1U) << "pressing the picker's button shows the chooser sheet";
  const Sheet sheet = sheets.front();
  EXPECT_EQ(toolkit_.text(sheet, BroadcastChoice::kExtensionNameWidget), "Sorn Broadcast");
  EXPECT_FALSE(toolkit_.has(sheet, BroadcastChoice::kMicrophoneSwitchWidget));
  // A second request reuses the picker and brings the open sheet forward; once the sheet
  // is gone, the next one presses the same picker again.
  host.startBroadcast();
  EXPECT_EQ(toolkit_.pickers(), pickers);
  EXPECT_EQ(toolkit_.sheets(), (std::vector<Sheet>{sheet}));
  toolkit_.closeWindow(sheet);
  ASSERT_TRUE(sheetClosed());
  host.startBroadcast();
  EXPECT_EQ(toolkit_.pickers(), pickers);
  sheets = toolkit_.sheets();
  ASSERT_EQ(sheets.size(), 1U);
  toolkit_.closeWindow(sheets.front());
  ASSERT_TRUE(sheetClosed());

  EXPECT_FALSE(toolkit_.pickerReachable()) << "neither the pointer nor the keyboard ever reaches the picker";
}

TEST_F(LauncherTest, TheSheetNamesTheExtensionAndStartsItOnStartOrEnterButNeverOtherwise) {
  install(kId, extension_.program().string());
  toolkit_.openWindow();
  const auto start = [](Sheet sheet) {
    testsupport::LauncherHarness::click(sheet, BroadcastChoice::kStartWidget);
  };
  // Whether the sheet shows the microphone switch and it is turned on; the answer; the
  // arguments of the start, or none.
  const std::tuple<bool, bool, std::function<void(Sheet)>, Strings> cases[] = {
      {false, false, start, {"--capture=auto"}},
      {true, true, start, {"--capture=auto", "--microphone"}},
      {true, false, testsupport::LauncherHarness::pressEnter, {"--capture=auto"}},
      {false,
       false,
       [](Sheet sheet) { testsupport::LauncherHarness::click(sheet, BroadcastChoice::kCancelWidget); },
       {}},
      {false, false, testsupport::LauncherHarness::pressEscape, {}},
      {false, false, testsupport::LauncherHarness::closeWindow, {}}};
  int index = 0;
  for (const auto& [showsMicrophone, microphoneOn, answer, arguments] : cases) {
    SCOPED_TRACE(index++);
    const auto children = testsupport::childProcesses();
    const auto launches = extension_.launches();
    const Sheet sheet = press(kId, showsMicrophone);
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(toolkit_.isModalOverWindow(sheet));
    EXPECT_EQ(toolkit_.text(sheet, BroadcastChoice::kExtensionNameWidget), "Test Broadcast");
    EXPECT_EQ(toolkit_.buttons(sheet), (Strings{"Cancel", "Start Broadcast"}));
    EXPECT_EQ(toolkit_.defaultButton(sheet), BroadcastChoice::kStartWidget);
    EXPECT_EQ(toolkit_.focus(sheet), BroadcastChoice::kStartWidget);
    ASSERT_EQ(toolkit_.has(sheet, BroadcastChoice::kMicrophoneSwitchWidget), showsMicrophone);
    if (showsMicrophone) {
      EXPECT_FALSE(toolkit_.switchOn(sheet, BroadcastChoice::kMicrophoneSwitchWidget));
      toolkit_.setSwitch(sheet, BroadcastChoice::kMicrophoneSwitchWidget, microphoneOn);
    }
    answer(sheet);
    EXPECT_TRUE(sheetClosed());
    if (arguments.empty()) {
      // The launch is synchronous: a start would have left a child behind by now.
      EXPECT_EQ(testsupport::childProcesses(), children);
      EXPECT_EQ(extension_.launches(), launches);
      continue;
    }
    ASSERT_TRUE(extension_.waitForLaunches(launches.size() + 1));
    auto started = extension_.launches();
    std::erase_if(started, [&](const auto& launch) { return launches.contains(launch.first); });
    ASSERT_EQ(started.size(), 1U);
    EXPECT_EQ(started.begin()->second, arguments);
    EXPECT_TRUE(testsupport::isRunning(started.begin()->first)) << "the extension outlives the sheet";
  }
}

TEST_F(LauncherTest, WithoutAUsableExtensionOnlyCancelIsOffered) {
  toolkit_.openWindow();
  const auto children = testsupport::childProcesses();
  std::string preferred = kId;
  const std::function<void()> cases[] = {
      [] {},                                                         // no metadata file
      [this] { install(kId, (dir_.root() / "missing").string()); },  // its program is missing
      [this] { install(kId, extension_.program().string()); },       // ... removed while the sheet is open
      [&] { preferred.clear(); }};                                   // none preferred
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    cases[i]();
    const Sheet sheet = press(preferred, true);
    ASSERT_NE(sheet, nullptr);
    if (i == 2) {
      // Start then says so instead of closing as if the broadcast had started.
      std::filesystem::remove(extension_.program());
      toolkit_.click(sheet, BroadcastChoice::kStartWidget);
      EXPECT_EQ(toolkit_.sheets(), (std::vector<Sheet>{sheet}));
    }
    EXPECT_EQ(toolkit_.text(sheet, BroadcastChoice::kMessageWidget), "No broadcast extension is available.");
    EXPECT_EQ(toolkit_.buttons(sheet), Strings{"Cancel"});
    EXPECT_FALSE(toolkit_.has(sheet, BroadcastChoice::kMicrophoneSwitchWidget));
    EXPECT_EQ(toolkit_.defaultButton(sheet), BroadcastChoice::kCancelWidget);
    EXPECT_EQ(toolkit_.focus(sheet), BroadcastChoice::kCancelWidget);
    toolkit_.pressEnter(sheet);
    EXPECT_TRUE(sheetClosed());
  }
  EXPECT_EQ(testsupport::childProcesses(), children);
}

TEST_F(LauncherTest, TheSheetSpeaksTheUsersLanguage) {
  const testsupport::GermanLocale german;
  ASSERT_TRUE(german.usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  toolkit_.openWindow();
  for (const bool installed : {false, true}) {
    if (installed) {
      auto keys = extension_.metadataKeys(kId, "Test Broadcast");
      keys["Name[de]"] = "Testübertragung";
      testsupport::FakeExtension::writeMetadata(dir_.dataHome(), kId, keys);
    }
    const Sheet sheet = press(kId, false);
    ASSERT_NE(sheet, nullptr);
    if (installed) {
      EXPECT_EQ(toolkit_.text(sheet, BroadcastChoice::kExtensionNameWidget), "Testübertragung");
    }
    EXPECT_EQ(toolkit_.text(sheet, BroadcastChoice::kMessageWidget),
              installed ? "Solange die Übertragung läuft, wird alles auf Ihrem Bildschirm geteilt."
                        : "Keine Übertragungserweiterung verfügbar.");
    EXPECT_EQ(toolkit_.buttons(sheet),
              installed ? (Strings{"Abbrechen", "Übertragung starten"}) : Strings{"Abbrechen"});
    toolkit_.closeWindow(sheet);
    ASSERT_TRUE(sheetClosed());
  }
}

}  // namespace
}  // namespace app
