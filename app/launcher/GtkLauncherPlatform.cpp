#include "app/launcher/GtkLauncherPlatform.h"

#include <gtk/gtk.h>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/screencast/picker/BroadcastPickerView.h"

namespace app {
namespace {

using platform::gobject::ObjectRef;

class GtkLauncherView : public LauncherView {
 public:
  explicit GtkLauncherView(GtkWidget* widget) : widget_(ObjectRef<GtkWidget>::retain(widget)) {}

  [[nodiscard]] GtkWidget* widget() const { return widget_.get(); }

  [[nodiscard]] bool hasSuperview() const override { return gtk_widget_get_parent(widget_.get()) != nullptr; }

  void setAlpha(double alpha) override { gtk_widget_set_opacity(widget_.get(), alpha); }

  void setUserInteractionEnabled(bool enabled) override {
    gtk_widget_set_can_target(widget_.get(), enabled ? TRUE : FALSE);
    gtk_widget_set_focusable(widget_.get(), enabled ? TRUE : FALSE);
    // can-focus reaches the children too, so the inner button cannot be tabbed to either.
    gtk_widget_set_can_focus(widget_.get(), enabled ? TRUE : FALSE);
  }

  [[nodiscard]] std::vector<std::unique_ptr<LauncherView>> subviews() const override {
    std::vector<std::unique_ptr<LauncherView>> children;
    for (GtkWidget* child = gtk_widget_get_first_child(widget_.get()); child != nullptr;
         child = gtk_widget_get_next_sibling(child)) {
      children.push_back(std::make_unique<GtkLauncherView>(child));
    }
    return children;
  }

  [[nodiscard]] bool isButton() const override { return GTK_IS_BUTTON(widget_.get()); }

  void sendActions() override {
    if (GTK_IS_BUTTON(widget_.get())) g_signal_emit_by_name(widget_.get(), "clicked");
  }

 private:
  ObjectRef<GtkWidget> widget_;
};

// The overlay the window's content sits in. The app's root view is one; any other
// content is moved into a new overlay, so that it stays as it was with the view on top.
GtkOverlay* contentOverlay(GtkWindow* window) {
  GtkWidget* content = gtk_window_get_child(window);
  if (content != nullptr && GTK_IS_OVERLAY(content)) return GTK_OVERLAY(content);

  const auto keptContent = ObjectRef<GtkWidget>::retain(content);
  GtkWidget* overlay = gtk_overlay_new();
  gtk_window_set_child(window, overlay);
  gtk_overlay_set_child(GTK_OVERLAY(overlay), keptContent.get());
  return GTK_OVERLAY(overlay);
}

class GtkLauncherWindow : public LauncherWindow {
 public:
  GtkLauncherWindow(GtkWindow* window, bool isApplicationActive)
      : window_(ObjectRef<GtkWindow>::retain(window)), isApplicationActive_(isApplicationActive) {}

  [[nodiscard]] bool isApplicationActiveWindow() const override { return isApplicationActive_; }

  [[nodiscard]] bool isActive() const override { return gtk_window_is_active(window_.get()) != FALSE; }

  void addSubview(LauncherView& view) override {
    auto* gtkView = dynamic_cast<GtkLauncherView*>(&view);
    if (gtkView == nullptr) return;
    gtk_overlay_add_overlay(contentOverlay(window_.get()), gtkView->widget());
  }

 private:
  ObjectRef<GtkWindow> window_;
  bool isApplicationActive_;
};

GtkWindow* applicationActiveWindow() {
  GApplication* application = g_application_get_default();
  if (application == nullptr || !GTK_IS_APPLICATION(application)) return nullptr;
  return gtk_application_get_active_window(GTK_APPLICATION(application));
}

}  // namespace

std::vector<std::unique_ptr<LauncherWindow>> GtkLauncherPlatform::windows() {
  std::vector<std::unique_ptr<LauncherWindow>> windows;
  GtkWindow* active = applicationActiveWindow();
  GListModel* toplevels = gtk_window_get_toplevels();
  const guint count = g_list_model_get_n_items(toplevels);
  for (guint i = 0; i < count; ++i) {
    const auto window = ObjectRef<GtkWindow>::adopt(GTK_WINDOW(g_list_model_get_item(toplevels, i)));
    windows.push_back(std::make_unique<GtkLauncherWindow>(window.get(), window.get() == active));
  }
  return windows;
}

std::unique_ptr<LauncherView> GtkLauncherPlatform::makePicker(const PickerSettings& settings) {
  GtkWidget* picker = platform::screencast::createBroadcastPickerView();
  g_object_set(picker, platform::screencast::kPreferredExtensionProperty, settings.preferredExtension.c_str(),
               platform::screencast::kShowsMicrophoneButtonProperty,
               settings.showsMicrophoneButton ? TRUE : FALSE, nullptr);
  // The frame: a fixed size at a fixed offset from the top-left corner of whatever holds it.
  gtk_widget_set_size_request(picker, settings.width, settings.height);
  gtk_widget_set_halign(picker, GTK_ALIGN_START);
  gtk_widget_set_valign(picker, GTK_ALIGN_START);
  gtk_widget_set_margin_start(picker, settings.x);
  gtk_widget_set_margin_top(picker, settings.y);
  return std::make_unique<GtkLauncherView>(picker);
}

BroadcastPickerHost& BroadcastPickerHost::shared() {
  // Deliberately never destroyed: the host and its picker last to the end of the process,
  // and no widget is released after GTK has gone away.
  static auto* const host = new BroadcastPickerHost(std::make_unique<GtkLauncherPlatform>());
  return *host;
}

}  // namespace app
