#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/RequestLoader.h"
#include "app/RootView.h"
#include "app/SornWebView.h"
#include "app/launcher/GtkLauncherPlatform.h"
#include "platform/gobject/ObjectRef.h"
#include "tests/support/MainLoopSpin.h"

namespace apptest {

using platform::gobject::ObjectRef;

// The app's window on the test's display: the real RootView around a SornWebView wired to a
// Coordinator on the test's services, the application's active window, on the engine's fake
// capture devices; the launcher's picker and chooser sheets in and over it. Main thread.
class WebKitHarness {
 public:
  using Sheet = GtkWindow*;
  // Debian builds the engine without WebRTC: the dashboard says it cannot hold a call.
  static constexpr bool kHoldsVoiceCalls = false;

  WebKitHarness(const std::string& url, app::CoordinatorServices services) {
    GtkApplication* application = start();
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_application(window_, application);
    gtk_window_set_default_size(window_, 390, 844);
    // The pages come from loopback servers: the service domain is theirs.
    auto coordinator = std::make_shared<app::Coordinator>(std::move(services), "127.0.0.1");
    root_ = app::RootView::body(app::SornWebView(url), coordinator);
    gtk_window_set_child(window_, root_);
    webView_ = WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(root_)));
    webkit_settings_set_enable_mock_capture_devices(webkit_web_view_get_settings(webView_), TRUE);
    auto loaded = +[](WebKitWebView*, WebKitLoadEvent event, WebKitHarness* self) {
      self->loads_ += event == WEBKIT_LOAD_FINISHED ? 1 : 0;
    };
    g_signal_connect(webView_, "load-changed", G_CALLBACK(loaded), this);
    // Requests that got past the app's own handler to the engine's default: a prompt.
    auto prompted = +[](WebKitWebView*, WebKitPermissionRequest*, WebKitHarness* self) {
      return ++self->prompts_, FALSE;
    };
    g_signal_connect(webView_, "permission-request", G_CALLBACK(prompted), this);
    gtk_window_present(window_);
  }
  ~WebKitHarness() {
    g_signal_handlers_disconnect_by_data(webView_, this);
    gtk_window_destroy(window_);
    // Let the engine take its processes down before the next test's data folder.
    testsupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
  }
  WebKitHarness(const WebKitHarness&) = delete;
  WebKitHarness& operator=(const WebKitHarness&) = delete;

  // The default application, as in the app; one per process.
  static GtkApplication* start() {
    static GtkApplication* const application = [] {
      gtk_init();
      g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR));
      GtkApplication* made = gtk_application_new("com.tarnwell.sorn.EngineTest", G_APPLICATION_NON_UNIQUE);
      g_application_register(G_APPLICATION(made), nullptr, nullptr);
      return made;
    }();
    return application;
  }

  // Transparent over the black backdrop.
  bool backgroundMatchesTheBackdrop() const {
    GdkRGBA background{};
    webkit_web_view_get_background_color(webView_, &background);
    const GdkRGBA black{0, 0, 0, 1};
    return gdk_rgba_equal(&background, &black);
  }
  void loadWithTimeout(const std::string& url, std::chrono::milliseconds timeout) {
    app::RequestLoader::load(webView_, url, timeout);
  }
  // The engine counts script run by the app as a user gesture.
  void clickAt(double x, double y) {
    run("document.elementFromPoint(" + std::to_string(x) + ", " + std::to_string(y) + ").click()", {});
  }
  int permissionPrompts() const { return prompts_; }
  int loads() const { return loads_; }
  // Runs the script in the main frame; `done`, if any, gets its value as text.
  void run(const std::string& script, std::function<void(std::string)> done) {
    using Done = std::function<void(std::string)>;
    auto finished = +[](GObject* view, GAsyncResult* result, gpointer data) {
      const std::unique_ptr<Done> callback(static_cast<Done*>(data));
      g_autoptr(JSCValue) value =
          webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
      g_autofree char* text = value != nullptr ? jsc_value_to_string(value) : nullptr;
      if (*callback) (*callback)(text != nullptr ? text : "exception: none");
    };
    webkit_web_view_evaluate_javascript(webView_, script.c_str(), -1, nullptr, nullptr, nullptr, finished,
                                        new Done(std::move(done)));
  }

  static std::unique_ptr<app::LauncherPlatform> launcherPlatform() {
    start();
    return std::make_unique<app::GtkLauncherPlatform>();
  }
  // How many pickers are over the page (none when the window's content is no longer the root
  // view with the page beneath them), the last one's opacity in percent, its frame, and
  // whether the pointer at its place or the keyboard's Tab ever reaches it.
  [[nodiscard]] std::vector<long> pickers() const {
    if (gtk_window_get_child(window_) != root_ || gtk_widget_get_first_child(root_) != GTK_WIDGET(webView_))
      return {};
    long count = 0;
    for (GtkWidget* child = gtk_widget_get_next_sibling(GTK_WIDGET(webView_)); child;
         child = gtk_widget_get_next_sibling(child))
      ++count;
    GtkWidget* picker = gtk_widget_get_last_child(root_);
    testsupport::spinUntil([&] { return gtk_widget_get_mapped(picker) && gtk_widget_get_width(picker) > 0; });
    graphene_point_t origin;
    if (!gtk_widget_compute_point(picker, root_, graphene_point_init(&origin, 0, 0), &origin)) return {};
    const auto inPicker = [picker](GtkWidget* widget) {
      return widget != nullptr && (widget == picker || gtk_widget_is_ancestor(widget, picker));
    };
    bool reached = inPicker(gtk_widget_pick(root_, 0.5, 0.5, GTK_PICK_DEFAULT));
    for (int step = 0; step < 6; ++step) {
      gtk_widget_child_focus(GTK_WIDGET(window_), GTK_DIR_TAB_FORWARD);
      reached = reached || inPicker(gtk_root_get_focus(GTK_ROOT(window_)));
    }
    return {count,
            std::lround(100 * gtk_widget_get_opacity(picker)),
            std::lround(origin.x),
            std::lround(origin.y),
            gtk_widget_get_width(picker),
            gtk_widget_get_height(picker),
            reached};
  }
  // The chooser sheets on screen, modal over the app's window.
  [[nodiscard]] std::vector<Sheet> sheets() const {
    std::vector<Sheet> found;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
      const auto window = ObjectRef<GtkWindow>::adopt(GTK_WINDOW(g_list_model_get_item(toplevels, i)));
      if (gtk_widget_get_visible(GTK_WIDGET(window.get())) && gtk_window_get_modal(window.get()) &&
          gtk_window_get_transient_for(window.get()) == window_)
        found.push_back(window.get());
    }
    return found;
  }
  // The sheet's texts in order, a switch as [on] or [off], a button prefixed with '>'
  // when it has the focus and '*' when Enter presses it.
  static std::vector<std::string> describe(Sheet sheet) {
    std::vector<std::string> texts;
    for (GtkWidget* widget : parts(GTK_WIDGET(sheet))) {
      if (GTK_IS_LABEL(widget)) texts.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
      if (GTK_IS_SWITCH(widget))
        texts.emplace_back(gtk_switch_get_active(GTK_SWITCH(widget)) ? "[on]" : "[off]");
      if (GTK_IS_BUTTON(widget))
        texts.push_back(std::string(gtk_window_get_focus(sheet) == widget ? ">" : "") +
                        (gtk_window_get_default_widget(sheet) == widget ? "*" : "") +
                        gtk_button_get_label(GTK_BUTTON(widget)));
    }
    return texts;
  }
  // Clicks a button or flips a switch, as its activation by the user does.
  static void click(Sheet sheet, const std::string& name) {
    const auto widgets = parts(GTK_WIDGET(sheet));
    GtkWidget* named = *std::ranges::find(widgets, name, gtk_widget_get_name);
    if (GTK_IS_SWITCH(named))
      return gtk_switch_set_active(GTK_SWITCH(named), !gtk_switch_get_active(GTK_SWITCH(named)));
    g_signal_emit_by_name(named, "clicked");
  }
  // The widget and those in it, in order; what is inside a button or switch left out.
  static std::vector<GtkWidget*> parts(GtkWidget* widget) {
    std::vector<GtkWidget*> found{widget};
    for (GtkWidget* child = gtk_widget_get_first_child(widget);
         child && !GTK_IS_BUTTON(widget) && !GTK_IS_SWITCH(widget);
         child = gtk_widget_get_next_sibling(child))
      std::ranges::copy(parts(child), std::back_inserter(found));
    return found;
  }
  static void closeWindow(Sheet sheet) { gtk_window_close(sheet); }

 private:
  GtkWindow* window_ = nullptr;
  GtkWidget* root_ = nullptr;
  WebKitWebView* webView_ = nullptr;
  int loads_ = 0;
  int prompts_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::WebKitHarness;
