#include "tests/app/WebViewHarness.h"

#include <optional>

#include "app/RootView.h"
#include "app/SornWebView.h"

namespace apptest {

WebViewHarness::WebViewHarness(const std::string& url, app::CoordinatorServices services,
                               const std::string& serviceDomain)
    : coordinator_(std::make_shared<app::Coordinator>(std::move(services), serviceDomain)) {
  gtk_init();
  window_ = GTK_WINDOW(gtk_window_new());
  gtk_window_set_default_size(window_, 390, 844);
  gtk_window_set_child(window_, app::RootView::body(app::SornWebView(url), coordinator_));
  webView_ = WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(gtk_window_get_child(window_))));
  g_signal_connect(webView_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                     if (event == WEBKIT_LOAD_FINISHED) ++*static_cast<int*>(data);
                   }),
                   &finishedLoads_);
  gtk_window_present(window_);
}

WebViewHarness::~WebViewHarness() {
  g_signal_handlers_disconnect_by_data(webView_, &finishedLoads_);
  gtk_window_destroy(window_);
  // Let the engine take its processes down before the next test's data folder.
  spinUntil([] { return false; }, std::chrono::milliseconds(100));
}

std::string WebViewHarness::uri() const {
  const char* current = webkit_web_view_get_uri(webView_);
  return current != nullptr ? current : "";
}

bool WebViewHarness::spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
  }
  return true;
}

std::string WebViewHarness::evaluate(const std::string& script) {
  // Shared with the callback, which may come after a timed-out wait has given up.
  auto result = std::make_shared<std::optional<std::string>>();
  webkit_web_view_evaluate_javascript(
      webView_, script.c_str(), -1, nullptr, nullptr, nullptr,
      +[](GObject* source, GAsyncResult* asyncResult, gpointer data) {
        std::unique_ptr<std::shared_ptr<std::optional<std::string>>> out(
            static_cast<std::shared_ptr<std::optional<std::string>>*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), asyncResult, &error);
        if (value == nullptr) {
          **out = std::string("exception: ") + (error != nullptr ? error->message : "?");
          g_clear_error(&error);
          return;
        }
        char* json = jsc_value_to_json(value, 0);
        **out = json != nullptr ? json : "undefined";
        g_free(json);
        g_object_unref(value);
      },
      new std::shared_ptr<std::optional<std::string>>(result));
  spinUntil([&] { return result->has_value(); });
  return result->value_or("exception: no answer");
}

std::string WebViewHarness::waitFor(const std::string& expression, const std::string& expected,
                                    std::chrono::milliseconds limit) {
  std::string last;
  spinUntil(
      [&] {
        last = evaluate(expression);
        if (last == expected) return true;
        spinUntil([] { return false; }, std::chrono::milliseconds(20));
        return false;
      },
      limit);
  return last;
}

}  // namespace apptest
