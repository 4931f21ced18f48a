#include "app/launcher/GtkLauncherPlatform.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/screencast/picker/BroadcastChooserSheet.h"
#include "platform/screencast/picker/BroadcastPickerView.h"
#include "tests/platform/screencast/picker/FakeExtension.h"
#include "tests/platform/screencast/picker/MainLoopSpin.h"
#include "tests/platform/screencast/picker/WidgetSearch.h"
#include "tests/support/TempDataDir.h"

namespace app {
namespace {

using platform::screencast::BroadcastChooserSheet;
using platform::screencast::broadcastPickerOpenSheet;
using testsupport::FakeExtension;
using testsupport::findWidgetByName;
using testsupport::spinUntil;

constexpr const char* kExtensionId = "com.tarnwell.sorn.broadcast";

bool isPicker(GtkWidget* widget) {
  return G_TYPE_CHECK_INSTANCE_TYPE(widget, platform::screencast::broadcastPickerViewType());
}

std::vector<GtkWidget*> pickersIn(GtkWidget* parent) {
  std::vector<GtkWidget*> pickers;
  for (GtkWidget* child = gtk_widget_get_first_child(parent); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (isPicker(child)) pickers.push_back(child);
  }
  return pickers;
}

std::vector<std::string> buttonLabels(GtkWindow* sheet) {
  std::vector<std::string> labels;
  for (GtkWidget* button : testsupport::findButtons(GTK_WIDGET(sheet))) {
    labels.emplace_back(gtk_button_get_label(GTK_BUTTON(button)));
  }
  return labels;
}

std::size_t toplevelCount() { return g_list_model_get_n_items(gtk_window_get_toplevels()); }

class GtkLauncherPlatformTest : public ::testing::Test {
 protected:
  // One application for the whole process, as in the app: the default application.
  static void SetUpTestSuite() {
    application_ = gtk_application_new("com.tarnwell.sorn.LauncherTest", G_APPLICATION_NON_UNIQUE);
    GError* error = nullptr;
    ASSERT_TRUE(g_application_register(G_APPLICATION(application_), nullptr, &error));
    ASSERT_EQ(g_application_get_default(), G_APPLICATION(application_));
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
  }

  void SetUp() override {
    savedDataDirs_ = g_strdup(g_getenv("XDG_DATA_DIRS"));
    setenv("XDG_DATA_DIRS", (dir_.root() / "system").c_str(), 1);
  }

  void TearDown() override {
    while (toplevelCount() > 0) {
      gtk_window_destroy(GTK_WINDOW(g_list_model_get_item(gtk_window_get_toplevels(), 0)));
    }
    spinUntil([] { return toplevelCount() == 0; });
    if (savedDataDirs_ != nullptr) {
      setenv("XDG_DATA_DIRS", savedDataDirs_, 1);
    } else {
      unsetenv("XDG_DATA_DIRS");
    }
    g_free(savedDataDirs_);
  }

  void installExtension() {
    FakeExtension::writeMetadata(dir_.dataHome(), kExtensionId,
                                 extension_.metadataKeys(kExtensionId, "Sorn Screen Broadcast"));
  }

  // An application window whose content is `content`, as the app's window holds its root view.
  static GtkWindow* appWindow(GtkWidget* content) {
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_application(window, application_);
    gtk_window_set_default_size(window, 400, 300);
    if (content != nullptr) gtk_window_set_child(window, content);
    gtk_window_present(window);
    return window;
  }

  // The root view: an overlay over a focusable widget standing in for the web view.
  static GtkWidget* rootView() {
    GtkWidget* overlay = gtk_overlay_new();
    gtk_overlay_set_child(GTK_OVERLAY(overlay), gtk_button_new_with_label("page"));
    return overlay;
  }

  inline static GtkApplication* application_ = nullptr;
  testsupport::TempDataDir dir_;
  FakeExtension extension_{dir_.root() / "bin"};
  BroadcastPickerHost host_{std::make_unique<GtkLauncherPlatform>()};
  char* savedDataDirs_ = nullptr;
};

TEST_F(GtkLauncherPlatformTest, MakesThePickerOnceAttachedHiddenToTheWindowAndOpensTheSheet) {
  installExtension();
  GtkWidget* root = rootView();
  GtkWindow* window = appWindow(root);
  host_.startBroadcast();

  const auto pickers = pickersIn(root);
  ASSERT_EQ(pickers.size(), 1U);
  GtkWidget* picker = pickers.front();
  EXPECT_EQ(gtk_window_get_child(window), root) << "the root view stays the window's content";
  EXPECT_NEAR(gtk_widget_get_opacity(picker), 0.01, 1.0 / 255);
  EXPECT_GT(gtk_widget_get_opacity(picker), 0.0);
  EXPECT_TRUE(gtk_widget_get_visible(picker));
  EXPECT_FALSE(gtk_widget_get_can_target(picker));
  EXPECT_FALSE(gtk_widget_get_focusable(picker));
  EXPECT_EQ(gtk_widget_get_halign(picker), GTK_ALIGN_START);
  EXPECT_EQ(gtk_widget_get_valign(picker), GTK_ALIGN_START);
  char* preferredExtension = nullptr;
  gboolean showsMicrophoneButton = TRUE;
  g_object_get(picker, platform::screencast::kPreferredExtensionProperty, &preferredExtension,
               platform::screencast::kShowsMicrophoneButtonProperty, &showsMicrophoneButton, nullptr);
  EXPECT_STREQ(preferredExtension, kExtensionId);
  EXPECT_FALSE(showsMicrophoneButton);
  g_free(preferredExtension);

  // A 1 x 1 frame in the window's top-left corner, once the window is laid out.
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(picker) && gtk_widget_get_width(picker) > 0; }));
  graphene_point_t origin;
  ASSERT_TRUE(gtk_widget_compute_point(picker, root, graphene_point_init(&origin, 0, 0), &origin));
  EXPECT_EQ(origin.x, 0.0F);
  EXPECT_EQ(origin.y, 0.0F);
  EXPECT_EQ(gtk_widget_get_width(picker), 1);
  EXPECT_EQ(gtk_widget_get_height(picker), 1);

  GtkWindow* sheet = broadcastPickerOpenSheet(picker);
  ASSERT_NE(sheet, nullptr) << "pressing the picker's button shows the chooser sheet";
  EXPECT_TRUE(gtk_window_get_modal(sheet));
  EXPECT_EQ(gtk_window_get_transient_for(sheet), window);
  GtkWidget* name = findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kExtensionNameWidget);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(name)), "Sorn Screen Broadcast");
  EXPECT_EQ(buttonLabels(sheet), (std::vector<std::string>{"Cancel", "Start Broadcast"}));
  EXPECT_EQ(findWidgetByName(GTK_WIDGET(sheet), BroadcastChooserSheet::kMicrophoneSwitchWidget), nullptr);

  // A second request reuses the picker and brings the open sheet forward.
  host_.startBroadcast();
  EXPECT_EQ(pickersIn(root), pickers);
  EXPECT_EQ(broadcastPickerOpenSheet(picker), sheet);
  EXPECT_EQ(toplevelCount(), 2U);

  // After the sheet is gone, the next request presses the same picker again.
  gtk_window_destroy(sheet);
  host_.startBroadcast();
  EXPECT_EQ(pickersIn(root), pickers);
  EXPECT_NE(broadcastPickerOpenSheet(picker), nullptr);
  EXPECT_TRUE(extension_.launches().empty());
}

TEST_F(GtkLauncherPlatformTest, PickerNeverTakesTheUsersPointerOrKeyboard) {
  GtkWidget* root = rootView();
  appWindow(root);
  host_.startBroadcast();
  GtkWidget* picker = pickersIn(root).front();
  ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(picker); }));
  GtkWidget* pickerButton = gtk_widget_get_first_child(picker);
  GtkWindow* sheet = broadcastPickerOpenSheet(picker);
  ASSERT_NE(sheet, nullptr);
  gtk_window_destroy(sheet);

  GtkWidget* picked = gtk_widget_pick(root, 0.5, 0.5, GTK_PICK_DEFAULT);
  EXPECT_NE(picked, nullptr);
  EXPECT_NE(picked, picker);
  EXPECT_FALSE(picked != nullptr && gtk_widget_is_ancestor(picked, picker));

  GtkWidget* window = GTK_WIDGET(gtk_widget_get_root(root));
  for (int step = 0; step < 6; ++step) {
    gtk_widget_child_focus(window, GTK_DIR_TAB_FORWARD);
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window));
    EXPECT_TRUE(focus == nullptr || (focus != pickerButton && focus != picker)) << "step " << step;
  }
}

TEST_F(GtkLauncherPlatformTest, SheetStartsTheExtensionOrDoesNothing) {
  struct Case {
    const char* what;
    bool installed;
    const char* answer;
    std::vector<std::string> buttons;
    bool launches;
  };
  const Case cases[] = {
      {"Start Broadcast", true, BroadcastChooserSheet::kStartWidget, {"Cancel", "Start Broadcast"}, true},
      {"Cancel", true, BroadcastChooserSheet::kCancelWidget, {"Cancel", "Start Broadcast"}, false},
      {"no metadata, Cancel", false, BroadcastChooserSheet::kCancelWidget, {"Cancel"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_.dataHome() / "sorn");
    if (c.installed) installExtension();
    // The host keeps its picker on its first window; each case has a host and window of its own.
    BroadcastPickerHost host(std::make_unique<GtkLauncherPlatform>());
    GtkWidget* root = rootView();
    GtkWindow* window = appWindow(root);
    host.startBroadcast();
    GtkWindow* sheet = broadcastPickerOpenSheet(pickersIn(root).front());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(buttonLabels(sheet), c.buttons);

    const auto childrenBefore = testsupport::childProcesses();
    const auto launchesBefore = extension_.launches().size();
    g_signal_emit_by_name(findWidgetByName(GTK_WIDGET(sheet), c.answer), "clicked");
    EXPECT_TRUE(spinUntil([&] { return toplevelCount() == 1; })) << "the sheet closes";
    if (c.launches) {
      ASSERT_TRUE(extension_.waitForLaunches(launchesBefore + 1));
      const auto record = extension_.launches().back();
      EXPECT_EQ(record.arguments, std::vector<std::string>{"--capture=screen"});
      EXPECT_TRUE(testsupport::processIsRunning(record.pid)) << "the extension outlives the sheet";
    } else {
      EXPECT_EQ(testsupport::childProcesses(), childrenBefore);
      EXPECT_EQ(extension_.launches().size(), launchesBefore);
    }
    gtk_window_destroy(window);
  }
}

TEST_F(GtkLauncherPlatformTest, WithoutAWindowNothingHappensAndALaterRequestWorks) {
  installExtension();
  host_.startBroadcast();
  EXPECT_EQ(toplevelCount(), 0U) << "no sheet without a window";

  GtkWidget* root = rootView();
  appWindow(root);
  host_.startBroadcast();
  ASSERT_EQ(pickersIn(root).size(), 1U);
  EXPECT_NE(broadcastPickerOpenSheet(pickersIn(root).front()), nullptr);
}

TEST_F(GtkLauncherPlatformTest, ContentThatIsNoOverlayIsKeptUnderANewOne) {
  struct Case {
    const char* what;
    GtkWidget* (*content)();
  };
  const Case cases[] = {
      {"a box", [] { return gtk_box_new(GTK_ORIENTATION_VERTICAL, 0); }},
      {"nothing", []() -> GtkWidget* { return nullptr; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BroadcastPickerHost host(std::make_unique<GtkLauncherPlatform>());
    GtkWidget* content = c.content();
    GtkWindow* window = appWindow(content);
    host.startBroadcast();

    GtkWidget* overlay = gtk_window_get_child(window);
    ASSERT_TRUE(GTK_IS_OVERLAY(overlay));
    EXPECT_EQ(gtk_overlay_get_child(GTK_OVERLAY(overlay)), content);
    EXPECT_EQ(pickersIn(overlay).size(), 1U);
    gtk_window_destroy(window);
  }
}

}  // namespace
}  // namespace app
