#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <memory>
#include <string>

#include "app/RequestLoader.h"
#include "app/RootView.h"
#include "app/SornWebView.h"
#include "tests/support/MainLoopSpin.h"

namespace apptest {

// The real SornWebView in the RootView layout in a window on the test's display, wired
// to a Coordinator of the test's choosing, on the engine's fake capture devices. Main thread.
class WebKitHarness {
 public:
  // Debian builds the engine without WebRTC: the dashboard says it cannot hold a call.
  static constexpr bool kHoldsVoiceCalls = false;

  WebKitHarness(const std::string& url, app::CoordinatorServices services, const std::string& domain) {
    gtk_init();
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window_, 390, 844);
    auto coordinator = std::make_shared<app::Coordinator>(std::move(services), domain);
    gtk_window_set_child(window_, app::RootView::body(app::SornWebView(url), coordinator));
    webView_ = WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(gtk_window_get_child(window_))));
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

  // Transparent over the black backdrop.
  bool backgroundMatchesTheBackdrop() const {
    GdkRGBA background{};
    webkit_web_view_get_background_color(webView_, &background);
    return background.alpha == 0.0F;
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
  std::string title() const {
    const char* title = webkit_web_view_get_title(webView_);
    return title != nullptr ? title : "";
  }
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

 private:
  GtkWindow* window_ = nullptr;
  WebKitWebView* webView_ = nullptr;
  int loads_ = 0;
  int prompts_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::WebKitHarness;
