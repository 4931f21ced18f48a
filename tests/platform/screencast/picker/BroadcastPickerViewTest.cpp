// The picker view and its chooser sheet on the test's display.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "platform/screencast/picker/BroadcastChooserSheet.h"
#include "platform/screencast/picker/BroadcastPickerView.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/WidgetSearch.h"

namespace {

using namespace platform::screencast;
using Sheet = BroadcastChooserSheet;
using Strings = std::vector<std::string>;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

GtkWidget* part(GtkWindow* sheet, const char* name) {
  return testsupport::findWidget(GTK_WIDGET(sheet), name);
}
void click(GtkWindow* sheet, const char* name) { g_signal_emit_by_name(part(sheet, name), "clicked"); }

class BroadcastPickerViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gtk_init();
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
  }
  void SetUp() override {
    // No system-wide extension may stand in for the ones a test writes.
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
    g_object_set(picker_, kPreferredExtensionProperty, kId, nullptr);
    gtk_window_set_child(window_, picker_);
    gtk_window_present(window_);
  }
  void TearDown() override {
    gtk_window_destroy(window_);
    testsupport::spinUntil([] { return g_list_model_get_n_items(gtk_window_get_toplevels()) == 0; });
  }
  void install(const std::string& exec) {
    auto keys = extension_.metadataKeys(kId, "Test Broadcast");
    keys["Exec"] = exec;
    testsupport::FakeExtension::writeMetadata(dir_.dataHome(), kId, keys);
  }
  // Presses the picker's button as the launcher does; the sheet it opened.
  GtkWindow* press() {
    g_signal_emit_by_name(gtk_widget_get_first_child(picker_), "clicked");
    return broadcastPickerOpenSheet(picker_);
  }
  // The picker has no sheet open, and its window is the only one left.
  bool sheetClosed() {
    return testsupport::spinUntil([&] {
      return !broadcastPickerOpenSheet(picker_) && g_list_model_get_n_items(gtk_window_get_toplevels()) == 1;
    });
  }

  testsupport::TempDataDir dir_;
  testsupport::FakeExtension extension_{dir_.root() / "bin"};
  GtkWindow* window_ = GTK_WINDOW(gtk_window_new());
  GtkWidget* picker_ = createBroadcastPickerView();
};

TEST_F(BroadcastPickerViewTest, TheSheetNamesTheExtensionAndStartsItOnStartOrEnterButNeverOtherwise) {
  install(extension_.program().string());
  const auto start = [](GtkWindow* sheet) { click(sheet, Sheet::kStartWidget); };
  // Whether the sheet shows the microphone switch and it is turned on; the answer; the
  // arguments of the start, or none.
  const std::tuple<bool, bool, std::function<void(GtkWindow*)>, Strings> cases[] = {
      {false, false, start, {"--capture=screen"}},
      {true, true, start, {"--capture=screen", "--microphone"}},
      {true,
       false,
       [](GtkWindow* sheet) { g_signal_emit_by_name(sheet, "activate-default"); },
       {"--capture=screen"}},
      {false, false, [](GtkWindow* sheet) { click(sheet, Sheet::kCancelWidget); }, {}},
      {false, false, [](GtkWindow* sheet) { gtk_window_close(sheet); }, {}}};
  int index = 0;
  for (const auto& [showsMicrophone, microphoneOn, answer, arguments] : cases) {
    SCOPED_TRACE(index++);
    g_object_set(picker_, kShowsMicrophoneButtonProperty, showsMicrophone, nullptr);
    const auto children = testsupport::childProcesses();
    const auto launches = extension_.launches();
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(sheet));
    EXPECT_EQ(gtk_window_get_transient_for(sheet), window_);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(part(sheet, Sheet::kExtensionNameWidget))), "Test Broadcast");
    EXPECT_EQ(testsupport::buttonLabels(GTK_WIDGET(sheet)), (Strings{"Cancel", "Start Broadcast"}));
    EXPECT_EQ(gtk_window_get_default_widget(sheet), part(sheet, Sheet::kStartWidget));
    EXPECT_EQ(gtk_window_get_focus(sheet), part(sheet, Sheet::kStartWidget));
    GtkWidget* microphone = part(sheet, Sheet::kMicrophoneSwitchWidget);
    ASSERT_EQ(microphone != nullptr, showsMicrophone);
    if (microphone != nullptr) {
      EXPECT_FALSE(gtk_switch_get_active(GTK_SWITCH(microphone)));
      gtk_switch_set_active(GTK_SWITCH(microphone), microphoneOn);
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

TEST_F(BroadcastPickerViewTest, WithoutAUsableExtensionOnlyCancelIsOffered) {
  const auto children = testsupport::childProcesses();
  const std::function<void()> cases[] = {
      [] {},                                                    // no metadata file
      [this] { install((dir_.root() / "missing").string()); },  // its program is missing
      [this] { install(extension_.program().string()); },       // ... removed while the sheet is open
      [this] { g_object_set(picker_, kPreferredExtensionProperty, nullptr, nullptr); }};  // none preferred
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    cases[i]();
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    if (i == 2) {
      // Start then says so instead of closing as if the broadcast had started.
      std::filesystem::remove(extension_.program());
      click(sheet, Sheet::kStartWidget);
      EXPECT_EQ(broadcastPickerOpenSheet(picker_), sheet);
    }
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(part(sheet, Sheet::kMessageWidget))),
                 "No broadcast extension is available.");
    EXPECT_EQ(testsupport::buttonLabels(GTK_WIDGET(sheet)), Strings{"Cancel"});
    EXPECT_EQ(gtk_window_get_default_widget(sheet), part(sheet, Sheet::kCancelWidget));
    g_signal_emit_by_name(sheet, "activate-default");
    EXPECT_TRUE(sheetClosed());
  }
  EXPECT_EQ(testsupport::childProcesses(), children);
}

}  // namespace
