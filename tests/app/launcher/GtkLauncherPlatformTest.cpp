// The launcher on a real GTK application window with the platform's picker view.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/launcher/BroadcastPickerHost.h"
#include "app/launcher/GtkLauncherPlatform.h"
#include "platform/screencast/picker/BroadcastPickerView.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/WidgetSearch.h"

namespace app {
namespace {

using platform::screencast::broadcastPickerOpenSheet;

std::vector<GtkWidget*> children(GtkWidget* parent) {
  std::vector<GtkWidget*> result;
  for (GtkWidget* child = gtk_widget_get_first_child(parent); child;
       child = gtk_widget_get_next_sibling(child)) {
    result.push_back(child);
  }
  return result;
}

TEST(GtkLauncherPlatformTest, MakesThePickerOnceAttachedHiddenToTheKeyWindowAndItsButtonShowsTheSheet) {
  // The default application, as in the app.
  GtkApplication* application =
      gtk_application_new("com.tarnwell.sorn.LauncherTest", G_APPLICATION_NON_UNIQUE);
  ASSERT_TRUE(g_application_register(G_APPLICATION(application), nullptr, nullptr));
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
  const testsupport::TempDataDir dir;
  setenv("XDG_DATA_DIRS", (dir.root() / "system").c_str(), 1);
  const testsupport::FakeExtension extension(dir.root() / "bin");
  const std::string id = "com.tarnwell.sorn.broadcast";
  testsupport::FakeExtension::writeMetadata(dir.dataHome(), id, extension.metadataKeys(id, "Sorn Broadcast"));
  BroadcastPickerHost host(std::make_unique<GtkLauncherPlatform>());
  host.startBroadcast();
  EXPECT_EQ(g_list_model_get_n_items(gtk_window_get_toplevels()), 0U) << "without a window nothing happens";

  // The root view: an overlay over a focusable widget standing in for the web view.
  GtkWidget* root = gtk_overlay_new();
  GtkWidget* page = gtk_button_new_with_label("page");
  gtk_overlay_set_child(GTK_OVERLAY(root), page);
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_application(window, application);
  gtk_window_set_child(window, root);
  gtk_window_present(window);
  host.startBroadcast();
  GtkWidget* picker = gtk_widget_get_last_child(root);
  ASSERT_EQ(children(root), (std::vector<GtkWidget*>{page, picker}));
  EXPECT_EQ(gtk_window_get_child(window), root) << "the root view stays the window's content";
  EXPECT_NEAR(gtk_widget_get_opacity(picker), 0.01, 1.0 / 255);
  // A 1 x 1 frame in the window's top-left corner, once the window is laid out.
  ASSERT_TRUE(
      testsupport::spinUntil([&] { return gtk_widget_get_mapped(picker) && gtk_widget_get_width(picker); }));
  graphene_point_t origin;
  ASSERT_TRUE(gtk_widget_compute_point(picker, root, graphene_point_init(&origin, 0, 0), &origin));
  EXPECT_EQ(std::vector<float>({origin.x, origin.y, 1.0F * gtk_widget_get_width(picker),
                                1.0F * gtk_widget_get_height(picker)}),
            std::vector<float>({0, 0, 1, 1}));

  GtkWindow* sheet = broadcastPickerOpenSheet(picker);
  ASSERT_NE(sheet, nullptr) << "pressing the picker's button shows the chooser sheet";
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(testsupport::findWidget(GTK_WIDGET(sheet), "extension-name"))),
               "Sorn Broadcast");
  EXPECT_EQ(testsupport::findWidget(GTK_WIDGET(sheet), "microphone-switch"), nullptr);
  // A second request reuses the picker and brings the open sheet forward; once the sheet
  // is gone, the next one presses the same picker again.
  host.startBroadcast();
  EXPECT_EQ(children(root), (std::vector<GtkWidget*>{page, picker}));
  EXPECT_EQ(broadcastPickerOpenSheet(picker), sheet);
  gtk_window_destroy(sheet);
  host.startBroadcast();
  EXPECT_EQ(children(root), (std::vector<GtkWidget*>{page, picker}));
  ASSERT_NE(broadcastPickerOpenSheet(picker), nullptr);
  gtk_window_destroy(broadcastPickerOpenSheet(picker));

  // Neither the pointer nor the keyboard ever reaches the picker.
  GtkWidget* picked = gtk_widget_pick(root, 0.5, 0.5, GTK_PICK_DEFAULT);
  EXPECT_TRUE(picked != nullptr && picked != picker && !gtk_widget_is_ancestor(picked, picker));
  for (int step = 0; step < 6; ++step) {
    gtk_widget_child_focus(GTK_WIDGET(window), GTK_DIR_TAB_FORWARD);
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window));
    EXPECT_TRUE(focus == nullptr || (focus != picker && !gtk_widget_is_ancestor(focus, picker))) << step;
  }
  gtk_window_destroy(window);
  testsupport::spinUntil([] { return g_list_model_get_n_items(gtk_window_get_toplevels()) == 0; });
  g_object_unref(application);
}

}  // namespace
}  // namespace app
