#pragma once

#include <gtk/gtk.h>

#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/launcher/GtkLauncherPlatform.h"
#include "platform/gobject/ObjectRef.h"
#include "tests/support/MainLoopSpin.h"

namespace testsupport {

using platform::gobject::ObjectRef;

// The launcher's tests on GTK: the app's window (an overlay over a focusable page, as
// the root view is), the picker in it and the chooser sheets. Test thread.
class LauncherHarness {
 public:
  using Sheet = GtkWindow*;

  LauncherHarness() {
    // The default application, as in the app; one per process.
    static GtkApplication* const application = [] {
      gtk_init();
      g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
      GtkApplication* made = gtk_application_new("com.tarnwell.sorn.LauncherTest", G_APPLICATION_NON_UNIQUE);
      g_application_register(G_APPLICATION(made), nullptr, nullptr);
      return made;
    }();
    application_ = application;
  }
  ~LauncherHarness() {
    if (window_ != nullptr) gtk_window_destroy(window_);
    spinUntil([] { return windowCount() == 0; });
  }
  LauncherHarness(const LauncherHarness&) = delete;
  LauncherHarness& operator=(const LauncherHarness&) = delete;

  static std::unique_ptr<app::LauncherPlatform> platform() {
    return std::make_unique<app::GtkLauncherPlatform>();
  }

  // Shows the app's window; it becomes the application's active one.
  void openWindow() {
    root_ = gtk_overlay_new();
    page_ = gtk_button_new_with_label("page");
    gtk_overlay_set_child(GTK_OVERLAY(root_), page_);
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_application(window_, application_);
    gtk_window_set_child(window_, root_);
    gtk_window_present(window_);
  }
  static std::size_t windowCount() { return g_list_model_get_n_items(gtk_window_get_toplevels()); }

  // How many pickers are over the page (none when the window's content is no longer the root
  // view with the page beneath them), the last one's opacity in percent and its frame.
  [[nodiscard]] std::vector<long> pickers() const {
    if (gtk_window_get_child(window_) != root_ || gtk_widget_get_first_child(root_) != page_) return {};
    long count = 0;
    for (GtkWidget* child = gtk_widget_get_next_sibling(page_); child;
         child = gtk_widget_get_next_sibling(child))
      ++count;
    GtkWidget* picker = this->picker();
    spinUntil([&] { return gtk_widget_get_mapped(picker) && gtk_widget_get_width(picker) > 0; });
    graphene_point_t origin;
    if (!gtk_widget_compute_point(picker, root_, graphene_point_init(&origin, 0, 0), &origin)) return {};
    return {count,
            std::lround(100 * gtk_widget_get_opacity(picker)),
            std::lround(origin.x),
            std::lround(origin.y),
            gtk_widget_get_width(picker),
            gtk_widget_get_height(picker)};
  }
  // Whether the pointer at the picker's place or the keyboard's Tab ever reaches it.
  [[nodiscard]] bool pickerReachable() const {
    const auto inPicker = [&](GtkWidget* widget) {
      return widget != nullptr && (widget == picker() || gtk_widget_is_ancestor(widget, picker()));
    };
    bool reached = inPicker(gtk_widget_pick(root_, 0.5, 0.5, GTK_PICK_DEFAULT));
    for (int step = 0; step < 6; ++step) {
      gtk_widget_child_focus(GTK_WIDGET(window_), GTK_DIR_TAB_FORWARD);
      reached = reached || inPicker(gtk_root_get_focus(GTK_ROOT(window_)));
    }
    return reached;
  }

  // The chooser sheets on screen.
  [[nodiscard]] std::vector<Sheet> sheets() const {
    std::vector<Sheet> found;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
      const auto window = ObjectRef<GtkWindow>::adopt(GTK_WINDOW(g_list_model_get_item(toplevels, i)));
      if (window.get() != window_ && gtk_widget_get_visible(GTK_WIDGET(window.get())))
        found.push_back(window.get());
    }
    return found;
  }
  [[nodiscard]] bool isModalOverWindow(Sheet sheet) const {
    return gtk_window_get_modal(sheet) && gtk_window_get_transient_for(sheet) == window_;
  }
  // The sheet's texts in order, a switch as [on] or [off], a button prefixed with '>'
  // when it has the focus and '*' when Enter presses it.
  static std::vector<std::string> describe(Sheet sheet) {
    std::vector<std::string> parts;
    describeInto(GTK_WIDGET(sheet), sheet, parts);
    return parts;
  }

  // Clicks a button or flips a switch, as its activation by the user does.
  static void click(Sheet sheet, const char* part) {
    GtkWidget* widget = findWidget(GTK_WIDGET(sheet), part);
    if (GTK_IS_SWITCH(widget))
      return gtk_switch_set_active(GTK_SWITCH(widget), !gtk_switch_get_active(GTK_SWITCH(widget)));
    g_signal_emit_by_name(widget, "clicked");
  }
  static void closeWindow(Sheet sheet) { gtk_window_close(sheet); }

 private:
  static GtkWidget* findWidget(GtkWidget* root, std::string_view name) {
    if (name == gtk_widget_get_name(root)) return root;
    GtkWidget* found = nullptr;
    for (GtkWidget* child = gtk_widget_get_first_child(root); child && !found;
         child = gtk_widget_get_next_sibling(child))
      found = findWidget(child, name);
    return found;
  }
  static void describeInto(GtkWidget* widget, Sheet sheet, std::vector<std::string>& parts) {
    if (GTK_IS_LABEL(widget)) parts.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_SWITCH(widget))
      parts.emplace_back(gtk_switch_get_active(GTK_SWITCH(widget)) ? "[on]" : "[off]");
    if (GTK_IS_BUTTON(widget)) {
      parts.push_back(std::string(gtk_window_get_focus(sheet) == widget ? ">" : "") +
                      (gtk_window_get_default_widget(sheet) == widget ? "*" : "") +
                      gtk_button_get_label(GTK_BUTTON(widget)));
    }
    if (GTK_IS_BUTTON(widget) || GTK_IS_SWITCH(widget)) return;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child))
      describeInto(child, sheet, parts);
  }
  [[nodiscard]] GtkWidget* picker() const { return gtk_widget_get_last_child(root_); }

  GtkApplication* application_ = nullptr;
  GtkWindow* window_ = nullptr;
  GtkWidget* root_ = nullptr;
  GtkWidget* page_ = nullptr;
};

}  // namespace testsupport
