// The launcher, its picker and the chooser sheet in the app's window on a real toolkit: built
// into each engine's test program, GTK's and Qt's.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/dispatch/MainLoopQueue.h"
#include "platform/screencast/picker/BroadcastChoice.h"
#include SORN_ENGINE_HARNESS
#include "tests/app/RecordingServices.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/TempDataDir.h"

namespace app {
namespace {

using platform::screencast::BroadcastChoice;
using Strings = std::vector<std::string>;
using Sheet = EngineHarness::Sheet;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";
constexpr const char* kWarning = "Everything on your screen will be shared while the broadcast runs.";

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the extensions a test writes are found, none installed on the system.
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
  }
  void openWindow() {
    window_.emplace("about:blank", recorder_.services(platform::dispatch::MainLoopQueue::shared()),
                    "127.0.0.1");
  }
  void speakGerman() {
    german_.emplace();
    ASSERT_TRUE(german_->usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  }
  void install(const std::string& id, const std::string& exec, const std::string& name = "Test Broadcast",
               const std::string& germanName = "") {
    auto keys = extension_.metadataKeys(id, name);
    keys["Exec"] = exec;
    if (!germanName.empty()) keys["Name[de]"] = germanName;
    testsupport::FakeExtension::writeMetadata(dir_.dataHome(), id, keys);
  }
  // Attaches a new picker with these settings to the key window and presses its button,
  // as the launcher does; the sheet it opened.
  Sheet press(const std::string& extensionId, bool showsMicrophone) {
    const auto platform = EngineHarness::launcherPlatform();
    const auto picker =
        platform->makePicker({.preferredExtension = extensionId, .showsMicrophoneButton = showsMicrophone});
    for (const auto& window : platform->windows()) {
      if (window->isApplicationActiveWindow()) window->addSubview(*picker);
    }
    for (const auto& child : picker->subviews()) {
      if (child->isButton()) child->sendActions();
    }
    const auto sheets = window_->sheets();
    return sheets.size() == 1 ? sheets.front() : nullptr;
  }
  // A key of the user's through the display server (no window manager runs, so the sheet
  // is given the focus directly), "close", or a click on the button of that name.
  void answer(Sheet sheet, const std::string& how) {
    if (how == "close") return EngineHarness::closeWindow(sheet);
    if (how != "Return" && how != "Escape") return EngineHarness::click(sheet, how);
    const std::string xdotool = "xdotool search --onlyvisible --name '^" +
                                std::string(BroadcastChoice::kTitle) + "$' windowfocus --sync key " + how;
    ASSERT_EQ(std::system(xdotool.c_str()), 0);
  }
  // No sheet is open, and the app's window is the only one left.
  bool sheetClosed() {
    return testsupport::spinUntil(
        [&] { return window_->sheets().empty() && EngineHarness::windowCount() == 1; });
  }

  testsupport::TempDataDir dir_;
  testsupport::FakeExtension extension_{dir_.root() / "bin"};
  apptest::RecordingServices recorder_;
  std::optional<testsupport::GermanLocale> german_;
  std::optional<EngineHarness> window_;
};

TEST_F(LauncherTest, ThePickerSitsHiddenInTheKeyWindowAndEachPressOfItsButtonShowsOneSheet) {
  install("com.tarnwell.sorn.broadcast", extension_.program().string(), "Sorn Broadcast");
  BroadcastPickerHost host(EngineHarness::launcherPlatform());
  host.startBroadcast();
  EXPECT_EQ(EngineHarness::windowCount(), 0U) << "without a window nothing happens";

  openWindow();
  for (int press = 0; press < 2; ++press) {
    host.startBroadcast();
    EXPECT_EQ(window_->pickers(), (std::vector<long>{1, 1, 0, 0, 1, 1}))
        << "one picker, 1 % opaque, 1 x 1 in the top-left corner, above the page as it was";
    const auto sheets = window_->sheets();
    ASSERT_EQ(sheets.size(), 1U);
    EXPECT_EQ(window_->describe(sheets[0]),
              (Strings{"Sorn Broadcast", kWarning, "Cancel", ">*Start Broadcast"}));
    // A press while the sheet is open brings that sheet forward.
    host.startBroadcast();
    EXPECT_EQ(window_->sheets(), sheets);
    window_->closeWindow(sheets[0]);
    ASSERT_TRUE(sheetClosed());
  }
  EXPECT_FALSE(window_->pickerReachable()) << "neither the pointer nor the keyboard ever reaches the picker";
}

TEST_F(LauncherTest, TheSheetStartsTheExtensionOnStartOrEnterButNeverOtherwiseInTheUsersLanguage) {
  install(kId, extension_.program().string(), "Test Broadcast", "Testübertragung");
  openWindow();
  const Strings plain{"Test Broadcast", kWarning, "Cancel", ">*Start Broadcast"};
  const Strings microphone{"Test Broadcast", kWarning, "Microphone", "[off]", "Cancel", ">*Start Broadcast"};
  const Strings german{
      "Testübertragung", "Solange die Übertragung läuft, wird alles auf Ihrem Bildschirm geteilt.",
      "Mikrofon",        "[off]",
      "Abbrechen",       ">*Übertragung starten"};
  // The sheet shown (with the microphone switch unless plain), whether the switch is turned on,
  // the answer (a key, "close", or the button clicked), the arguments of the start or none.
  const std::tuple<const Strings*, bool, std::string, Strings> cases[] = {
      {&plain, false, BroadcastChoice::kStartWidget, {"--capture=auto"}},
      {&microphone, true, BroadcastChoice::kStartWidget, {"--capture=auto", "--microphone"}},
      {&microphone, false, "Return", {"--capture=auto"}},
      {&plain, false, BroadcastChoice::kCancelWidget, {}},
      {&plain, false, "Escape", {}},
      {&plain, false, "close", {}},
      {&german, true, BroadcastChoice::kStartWidget, {"--capture=auto", "--microphone"}}};
  int index = 0;
  for (const auto& [shown, microphoneOn, how, arguments] : cases) {
    SCOPED_TRACE(index++);
    if (shown == &german) speakGerman();
    const auto children = testsupport::childProcesses();
    const auto launches = extension_.launches();
    const Sheet sheet = press(kId, shown != &plain);
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(window_->isModalOverWindow(sheet));
    EXPECT_EQ(window_->describe(sheet), *shown);
    if (microphoneOn) window_->click(sheet, BroadcastChoice::kMicrophoneSwitchWidget);
    answer(sheet, how);
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
  openWindow();
  const auto children = testsupport::childProcesses();
  std::string preferred = kId;
  const std::function<void()> cases[] = {
      [] {},                                                         // no metadata file
      [this] { install(kId, (dir_.root() / "missing").string()); },  // its program is missing
      [this] { install(kId, extension_.program().string()); },       // ... removed while the sheet is open
      [&] { preferred.clear(); },                                    // none preferred
      [this] { speakGerman(); }};                                    // ... in German
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    cases[i]();
    const Sheet sheet = press(preferred, true);
    ASSERT_NE(sheet, nullptr);
    if (i == 2) {
      // Start then says so instead of closing as if the broadcast had started.
      std::filesystem::remove(extension_.program());
      window_->click(sheet, BroadcastChoice::kStartWidget);
      EXPECT_EQ(window_->sheets(), (std::vector<Sheet>{sheet}));
    }
    EXPECT_EQ(
        window_->describe(sheet),
        (german_ ? Strings{"Bildschirmübertragung", "Keine Übertragungserweiterung verfügbar.", ">*Abbrechen"}
                 : Strings{"Screen Broadcast", "No broadcast extension is available.", ">*Cancel"}));
    answer(sheet, german_ ? "close" : "Return");  // keys find the sheet by its untranslated title
    EXPECT_TRUE(sheetClosed());
  }
  EXPECT_EQ(testsupport::childProcesses(), children);
}

}  // namespace
}  // namespace app
