#include "platform/screencast/picker/BroadcastPickerView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "platform/screencast/picker/BroadcastChooserSheet.h"
#include "tests/platform/screencast/picker/FakeExtension.h"
#include "tests/platform/screencast/picker/MainLoopSpin.h"
#include "tests/platform/screencast/picker/WidgetSearch.h"
#include "tests/support/TempDataDir.h"

namespace platform::screencast {
namespace {

using testsupport::FakeExtension;
using testsupport::findButtons;
using testsupport::findWidgetByName;
using testsupport::spinUntil;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

std::vector<std::string> buttonLabels(GtkWindow* sheet) {
  std::vector<std::string> labels;
  for (GtkWidget* button : findButtons(GTK_WIDGET(sheet))) labels.emplace_back(gtk_button_get_label(GTK_BUTTON(button)));
  return labels;
}

std::string labelText(GtkWindow* sheet, const char* name) {
  GtkWidget* label = findWidgetByName(GTK_WIDGET(sheet), name);
  return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "";
}

void click(GtkWindow* sheet, const char* name) {
  GtkWidget* button = findWidgetByName(GTK_WIDGET(sheet), name);
  ASSERT_NE(button, nullptr) << name;
  g_signal_emit_by_name(button, "clicked");
}

// Activates what the sheet does on a plain Escape key press.
void pressEscape(GtkWindow* sheet) {
  GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(sheet));
  bool handled = false;
  for (guint i = 0; i < g_list_model_get_n_items(controllers) && !handled; ++i) {
    auto* controller = static_cast<GObject*>(g_list_model_get_item(controllers, i));
    if (GTK_IS_SHORTCUT_CONTROLLER(controller)) {
      auto* shortcuts = G_LIST_MODEL(controller);
      for (guint j = 0; j < g_list_model_get_n_items(shortcuts) && !handled; ++j) {
        auto* shortcut = static_cast<GtkShortcut*>(g_list_model_get_item(shortcuts, j));
        GtkShortcutTrigger* trigger = gtk_shortcut_get_trigger(shortcut);
        if (GTK_IS_KEYVAL_TRIGGER(trigger) &&
            gtk_keyval_trigger_get_keyval(GTK_KEYVAL_TRIGGER(trigger)) == GDK_KEY_Escape &&
            gtk_keyval_trigger_get_modifiers(GTK_KEYVAL_TRIGGER(trigger)) == 0) {
          handled = gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut), GTK_SHORTCUT_ACTION_EXCLUSIVE,
                                                 GTK_WIDGET(sheet), nullptr) != FALSE;
        }
        g_object_unref(shortcut);
      }
    }
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  EXPECT_TRUE(handled) << "the sheet has no Escape shortcut";
}

class BroadcastPickerViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gtk_init();
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
  }

  void SetUp() override {
    // No system-wide extension may stand in for the ones a test writes.
    savedDataDirs_ = g_strdup(g_getenv("XDG_DATA_DIRS"));
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
    window_ = GTK_WINDOW(gtk_window_new());
    picker_ = createBroadcastPickerView();
    g_object_set(picker_, kPreferredExtensionProperty, kId, nullptr);
    gtk_window_set_child(window_, picker_);
    gtk_window_present(window_);
  }

  void TearDown() override {
    gtk_window_destroy(window_);
    spinUntil([] { return g_list_model_get_n_items(gtk_window_get_toplevels()) == 0; });
    if (savedDataDirs_ != nullptr) {
      setenv("XDG_DATA_DIRS", savedDataDirs_, 1);
    } else {
      unsetenv("XDG_DATA_DIRS");
    }
    g_free(savedDataDirs_);
  }

  void installExtension() {
    FakeExtension::writeMetadata(dir_.dataHome(), kId, extension_.metadataKeys(kId, "Test Broadcast"));
  }

  // Presses the picker's button as the launcher does and gives the sheet it opened.
  GtkWindow* press() {
    GtkWidget* button = gtk_widget_get_first_child(picker_);
    EXPECT_TRUE(GTK_IS_BUTTON(button));
    g_signal_emit_by_name(button, "clicked");
    return broadcastPickerOpenSheet(picker_);
  }

  // Compares pointers only: a closed sheet may already be freed.
  bool sheetClosed(GtkWindow* sheet) {
    return spinUntil([&] { return broadcastPickerOpenSheet(picker_) == nullptr && !isToplevel(sheet); });
  }

  static bool isToplevel(GtkWindow* window) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
      auto* item = g_list_model_get_item(toplevels, i);
      g_object_unref(item);
      if (item == window) return true;
    }
    return false;
  }

  testsupport::TempDataDir dir_;
  FakeExtension extension_{dir_.root() / "bin"};
  char* savedDataDirs_ = nullptr;
  GtkWindow* window_ = nullptr;
  GtkWidget* picker_ = nullptr;
};

TEST_F(BroadcastPickerViewTest, SheetNamesTheExtensionAndOffersStartAndCancel) {
  installExtension();
  for (const bool showsMicrophoneButton : {false, true}) {
    SCOPED_TRACE(showsMicrophoneButton ? "with microphone button" : "without microphone button");
    g_object_set(picker_, kShowsMicrophoneButtonProperty, showsMicrophoneButton ? TRUE : FALSE, nullptr);
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(sheet));
    EXPECT_EQ(gtk_window_get_transient_for(sheet), window_);
    EXPECT_EQ(labelText(sheet, BroadcastChooserSheet::kExtensionNameWidget), "Test Broadcast");
    EXPECT_EQ(buttonLabels(sheet), (std::vector<std::string>{"Cancel", "Start Broadcast"}));
    GtkWidget* start = findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kStartWidget);
    EXPECT_EQ(gtk_window_get_default_widget(sheet), start);
    EXPECT_EQ(gtk_window_get_focus(sheet), start);
    GtkWidget* microphone = findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kMicrophoneSwitchWidget);
    EXPECT_EQ(microphone != nullptr, showsMicrophoneButton);
    if (microphone != nullptr) {
      EXPECT_FALSE(gtk_switch_get_active(GTK_SWITCH(microphone)));
    }
    gtk_window_destroy(sheet);
    EXPECT_TRUE(sheetClosed(sheet));
  }
  EXPECT_TRUE(extension_.launches().empty());
}

TEST_F(BroadcastPickerViewTest, StartLaunchesTheExtensionWhichOutlivesTheSheet) {
  installExtension();
  struct Case {
    const char* what;
    bool microphoneOn;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"screen only", false, {"--capture=screen"}},
      {"with the microphone switched on", true, {"--capture=screen", "--microphone"}},
  };
  std::size_t launched = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_object_set(picker_, kShowsMicrophoneButtonProperty, c.microphoneOn ? TRUE : FALSE, nullptr);
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    if (c.microphoneOn) {
      gtk_switch_set_active(
          GTK_SWITCH(findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kMicrophoneSwitchWidget)), TRUE);
    }
    click(sheet, BroadcastChooserSheet::kStartWidget);
    EXPECT_TRUE(sheetClosed(sheet));
    ASSERT_TRUE(extension_.waitForLaunches(++launched));
    const auto record = extension_.launches().back();
    EXPECT_EQ(record.arguments, c.arguments);
    // The sheet is gone; the extension runs on.
    EXPECT_TRUE(testsupport::processIsRunning(record.pid));
  }
}

TEST_F(BroadcastPickerViewTest, EnterStartsWhileEscapeAndCancelDoNothing) {
  installExtension();
  struct Case {
    const char* what;
    void (*answer)(GtkWindow* sheet);
    bool starts;
  };
  const Case cases[] = {
      {"Enter", [](GtkWindow* sheet) { g_signal_emit_by_name(sheet, "activate-default"); }, true},
      {"Escape", pressEscape, false},
      {"Cancel", [](GtkWindow* sheet) { click(sheet, BroadcastChooserSheet::kCancelWidget); }, false},
      {"closing the window", [](GtkWindow* sheet) { gtk_window_close(sheet); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto childrenBefore = testsupport::childProcesses();
    const auto launchesBefore = extension_.launches().size();
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    c.answer(sheet);
    EXPECT_TRUE(sheetClosed(sheet));
    if (c.starts) {
      EXPECT_TRUE(extension_.waitForLaunches(launchesBefore + 1));
    } else {
      // A start would have left a child process behind by now: the launch is synchronous.
      EXPECT_EQ(testsupport::childProcesses(), childrenBefore);
      EXPECT_EQ(extension_.launches().size(), launchesBefore);
    }
  }
}

TEST_F(BroadcastPickerViewTest, WithoutAnUsableExtensionOnlyCancelIsOffered) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
  };
  const Case cases[] = {
      {"no metadata file", [] {}},
      {"program missing",
       [this] {
         auto keys = extension_.metadataKeys(kId, "Test Broadcast");
         keys["Exec"] = (dir_.root() / "missing").string();
         FakeExtension::writeMetadata(dir_.dataHome(), kId, keys);
       }},
      {"no preferred extension",
       [this] {
         installExtension();
         g_object_set(picker_, kPreferredExtensionProperty, nullptr, nullptr);
       }},
  };
  const auto childrenBefore = testsupport::childProcesses();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    GtkWindow* sheet = press();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(labelText(sheet, BroadcastChooserSheet::kMessageWidget), "No broadcast extension is available.");
    EXPECT_EQ(buttonLabels(sheet), std::vector<std::string>{"Cancel"});
    GtkWidget* cancel = findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kCancelWidget);
    EXPECT_EQ(gtk_window_get_default_widget(sheet), cancel);
    g_signal_emit_by_name(sheet, "activate-default");
    EXPECT_TRUE(sheetClosed(sheet));
  }
  EXPECT_EQ(testsupport::childProcesses(), childrenBefore);
}

TEST_F(BroadcastPickerViewTest, StartAfterTheExtensionWentAwaySaysSoInsteadOfClosing) {
  installExtension();
  const auto childrenBefore = testsupport::childProcesses();
  GtkWindow* sheet = press();
  ASSERT_NE(sheet, nullptr);
  std::filesystem::remove(extension_.program());

  click(sheet, BroadcastChooserSheet::kStartWidget);
  EXPECT_EQ(broadcastPickerOpenSheet(picker_), sheet);
  EXPECT_EQ(labelText(sheet, BroadcastChooserSheet::kMessageWidget), "No broadcast extension is available.");
  EXPECT_EQ(buttonLabels(sheet), std::vector<std::string>{"Cancel"});
  EXPECT_EQ(testsupport::childProcesses(), childrenBefore);
}

}  // namespace
}  // namespace platform::screencast
