#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RequestLoader.h"
#include "app/RootView.h"
#include "app/SornWebView.h"
#include "tests/support/MainLoopSpin.h"

namespace apptest {

// The real SornWebView in the RootView layout in a window on the test's display, wired
// to a Coordinator of the test's choosing. Main thread.
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
    g_signal_connect(webkit_web_view_get_user_content_manager(webView_), "script-message-received::sorn",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue*, int* count) { ++*count; }),
                     &bridgeMessages_);
    g_signal_connect(webView_, "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, int* loads) {
                       if (event == WEBKIT_LOAD_FINISHED) ++*loads;
                     }),
                     &loads_);
    gtk_window_present(window_);
  }
  ~WebKitHarness() {
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(webView_),
                                         &bridgeMessages_);
    g_signal_handlers_disconnect_by_data(webView_, &loads_);
    g_signal_handlers_disconnect_by_data(webView_, &prompts_);
    gtk_window_destroy(window_);
    // Let the engine take its processes down before the next test's data folder.
    testsupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
  }
  WebKitHarness(const WebKitHarness&) = delete;
  WebKitHarness& operator=(const WebKitHarness&) = delete;

  // Messages that crossed from the page to the app's message handler.
  int bridgeMessages() const { return bridgeMessages_; }
  // Transparent over the black backdrop.
  bool backgroundMatchesTheBackdrop() const {
    GdkRGBA background{};
    webkit_web_view_get_background_color(webView_, &background);
    return background.alpha == 0.0F;
  }
  void loadWithTimeout(const std::string& url, std::chrono::milliseconds timeout) {
    app::RequestLoader::load(webView_, url, timeout);
  }
  // What the window shows, backdrop included: one luminance (0-255) a pixel.
  std::vector<std::uint8_t> shownLuminances() {
    const int width = gtk_widget_get_width(GTK_WIDGET(window_));
    const int height = gtk_widget_get_height(GTK_WIDGET(window_));
    g_autoptr(GdkPaintable) paintable = gtk_widget_paintable_new(GTK_WIDGET(window_));
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    g_autoptr(GskRenderNode) node = gtk_snapshot_free_to_node(snapshot);
    if (node == nullptr) return {};
    g_autoptr(GdkTexture) texture =
        gsk_renderer_render_texture(gtk_native_get_renderer(GTK_NATIVE(window_)), node, nullptr);
    // Premultiplied: the colour channels are what shows over black.
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(gdk_texture_get_width(texture)) *
                                   gdk_texture_get_height(texture) * 4);
    gdk_texture_download(texture, bgra.data(), static_cast<gsize>(gdk_texture_get_width(texture)) * 4);
    std::vector<std::uint8_t> luminances;
    for (std::size_t i = 0; i < bgra.size(); i += 4)
      luminances.push_back(
          static_cast<std::uint8_t>((29 * bgra[i] + 150 * bgra[i + 1] + 77 * bgra[i + 2]) >> 8));
    return luminances;
  }
  // A click on the element with that id; the engine counts script run by the app as a
  // user gesture.
  void click(const std::string& id) { evaluate("document.getElementById('" + id + "').click(); true"); }
  // Capture devices the page can open without real hardware. Counts permission requests
  // that got past the app's own handler to the engine's default (a prompt).
  void useFakeCaptureDevices() {
    webkit_settings_set_enable_mock_capture_devices(webkit_web_view_get_settings(webView_), TRUE);
    auto count = +[](WebKitWebView*, WebKitPermissionRequest*, int* calls) { return ++*calls, FALSE; };
    g_signal_connect(webView_, "permission-request", G_CALLBACK(count), &prompts_);
  }
  int permissionPrompts() const { return prompts_; }
  bool waitForLoads(int count) const {
    return testsupport::spinUntil([&] { return loads_ >= count; });
  }

  // Runs the script in the main frame (the engine counts it as a user gesture); the JSON
  // text of its result, or "exception: ..." when it threw.
  std::string evaluate(const std::string& script) {
    // Shared with the callback, which may come after a timed-out wait has given up.
    using Result = std::shared_ptr<std::optional<std::string>>;
    const auto result = std::make_shared<std::optional<std::string>>();
    auto done = +[](GObject* source, GAsyncResult* asyncResult, gpointer data) {
      const std::unique_ptr<Result> out(static_cast<Result*>(data));
      GError* error = nullptr;
      JSCValue* value =
          webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), asyncResult, &error);
      char* json = value != nullptr ? jsc_value_to_json(value, 0) : nullptr;
      **out = value == nullptr  ? std::string("exception: ") + error->message
              : json != nullptr ? json
                                : "undefined";
      g_free(json);
      g_clear_object(&value);
      g_clear_error(&error);
    };
    webkit_web_view_evaluate_javascript(webView_, script.c_str(), -1, nullptr, nullptr, nullptr, done,
                                        new Result(result));
    testsupport::spinUntil([&] { return result->has_value(); });
    return result->value_or("exception: no answer");
  }

 private:
  GtkWindow* window_ = nullptr;
  WebKitWebView* webView_ = nullptr;
  int loads_ = 0;
  int bridgeMessages_ = 0;
  int prompts_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::WebKitHarness;
