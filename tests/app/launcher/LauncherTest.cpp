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
constexpr const char* kWarning = "Everything on your screen will be shared while the broadcast runs.";

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only the extensions a test writes are found, none installed on the system.
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
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
  // A key of the user's through the display server (no window manager runs, so the sheet
  // is given the focus directly), "close", or a click on the button of that name.
  void answer(Sheet sheet, const std::string& how) {
    if (how == "close") return toolkit_.closeWindow(sheet);
    if (how != "Return" && how != "Escape") return toolkit_.click(sheet, how.c_str());
    const std::string xdotool = "xdotool search --onlyvisible --name '^" +
                                std::string(BroadcastChoice::kTitle) + "$' windowfocus --sync key " + how;
    ASSERT_EQ(std::system(xdotool.c_str()), 0);
  }
  // No sheet is open, and the app's window is the only one left.
  bool sheetClosed() {
    return testsupport::spinUntil([&] { return toolkit_.sheets().empty() && toolkit_.windowCount() == 1; });
  }

  testsupport::TempDataDir dir_;
  testsupport::FakeExtension extension_{dir_.root() / "bin"};
  testsupport::LauncherHarness toolkit_;
};

TEST_F(LauncherTest, ThePickerSitsHiddenInTheKeyWindowAndEachPressOfItsButtonShowsOneSheet) {
  install("com.tarnwell.sorn.broadcast", extension_.program().string(), "Sorn Broadcast");
  BroadcastPickerHost host(toolkit_.platform());
  host.startBroadcast();
  EXPECT_EQ(toolkit_.windowCount(), 0U) << "without a window nothing happens";

  toolkit_.openWindow();
  for (int press = 0; press < 2; ++press) {
    host.startBroadcast();
    EXPECT_EQ(toolkit_.pickers(), (std::vector<long>{1, 1, 0, 0, 1, 1}))
        << "one picker, 1 % opaque, 1 x 1 in the top-left corner, above the page as it was";
    const auto sheets = toolkit_.sheets();
    ASSERT_EQ(sheets.size(), 1U);
    EXPECT_EQ(toolkit_.describe(sheets[0]),
              (Strings{"Sorn Broadcast", kWarning, "Cancel", ">*Start Broadcast"}));
    // A press while the sheet is open brings that sheet forward.
    host.startBroadcast();
    EXPECT_EQ(toolkit_.sheets(), sheets);
    toolkit_.closeWindow(sheets[0]);
    ASSERT_TRUE(sheetClosed());
  }
  EXPECT_FALSE(toolkit_.pickerReachable()) << "neither the pointer nor the keyboard ever reaches the picker";
}

TEST_F(LauncherTest, TheSheetStartsTheExtensionOnStartOrEnterButNeverOtherwise) {
  install(kId, extension_.program().string());
  toolkit_.openWindow();
  // Whether the sheet shows the microphone switch and it is turned on; the answer (a key,
  // "close", or the button clicked); the arguments of the start, or none.
  const std::tuple<bool, bool, std::string, Strings> cases[] = {
      {false, false, BroadcastChoice::kStartWidget, {"--capture=auto"}},
      {true, true, BroadcastChoice::kStartWidget, {"--capture=auto", "--microphone"}},
      {true, false, "Return", {"--capture=auto"}},
      {false, false, BroadcastChoice::kCancelWidget, {}},
      {false, false, "Escape", {}},
      {false, false, "close", {}}};
  int index = 0;
  for (const auto& [showsMicrophone, microphoneOn, how, arguments] : cases) {
    SCOPED_TRACE(index++);
    const auto children = testsupport::childProcesses();
    const auto launches = extension_.launches();
    const Sheet sheet = press(kId, showsMicrophone);
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(toolkit_.isModalOverWindow(sheet));
    EXPECT_EQ(toolkit_.describe(sheet),
              showsMicrophone ? (Strings{"Test Broadcast", kWarning, "Microphone", "[off]", "Cancel",
                                         ">*Start Broadcast"})
                              : (Strings{"Test Broadcast", kWarning, "Cancel", ">*Start Broadcast"}));
    if (microphoneOn) toolkit_.click(sheet, BroadcastChoice::kMicrophoneSwitchWidget);
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
    EXPECT_EQ(toolkit_.describe(sheet),
              (Strings{"Screen Broadcast", "No broadcast extension is available.", ">*Cancel"}));
    answer(sheet, "Return");
    EXPECT_TRUE(sheetClosed());
  }
  EXPECT_EQ(testsupport::childProcesses(), children);
}

TEST_F(LauncherTest, TheSheetSpeaksTheUsersLanguage) {
  const testsupport::GermanLocale german;
  ASSERT_TRUE(german.usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  toolkit_.openWindow();
  for (const bool installed : {false, true}) {
    if (installed) install(kId, extension_.program().string(), "Test Broadcast", "Testübertragung");
    const Sheet sheet = press(kId, installed);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(toolkit_.describe(sheet),
              installed ? (Strings{"Testübertragung",
                                   "Solange die Übertragung läuft, wird alles auf Ihrem Bildschirm geteilt.",
                                   "Mikrofon", "[off]", "Abbrechen", ">*Übertragung starten"})
                        : (Strings{"Bildschirmübertragung", "Keine Übertragungserweiterung verfügbar.",
                                   ">*Abbrechen"}));
    toolkit_.closeWindow(sheet);
    ASSERT_TRUE(sheetClosed());
  }
}

}  // namespace
}  // namespace app
