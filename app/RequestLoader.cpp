#include "app/RequestLoader.h"

#include "platform/gobject/ObjectRef.h"

namespace app {
namespace {

constexpr const char* kWatchdogKey = "sorn-request-watchdog";

// The pending timeout of one web view, kept on the web view itself.
struct Watchdog {
  guint timer = 0;

  void disarm() {
    if (timer != 0) g_source_remove(timer);
    timer = 0;
  }
};

void onLoadChanged(WebKitWebView* /*webView*/, WebKitLoadEvent event, gpointer data) {
  // A response arrived (committed), or the load ended some other way (finished also
  // follows a failure, or a newer load that replaced this one).
  if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) static_cast<Watchdog*>(data)->disarm();
}

gboolean onTimeout(gpointer data) {
  auto* webView = static_cast<WebKitWebView*>(data);
  static_cast<Watchdog*>(g_object_get_data(G_OBJECT(webView), kWatchdogKey))->timer = 0;
  webkit_web_view_stop_loading(webView);
  return G_SOURCE_REMOVE;
}

Watchdog& watchdogOf(WebKitWebView* webView) {
  if (auto* existing = static_cast<Watchdog*>(g_object_get_data(G_OBJECT(webView), kWatchdogKey)))
    return *existing;
  auto* watchdog = new Watchdog;
  // Signal handlers go before object data when the web view is finalised, so the
  // handler never sees a deleted watchdog; the timer goes with the watchdog.
  g_object_set_data_full(G_OBJECT(webView), kWatchdogKey, watchdog, [](gpointer data) {
    auto* dying = static_cast<Watchdog*>(data);
    dying->disarm();
    delete dying;
  });
  g_signal_connect(webView, "load-changed", G_CALLBACK(onLoadChanged), watchdog);
  return *watchdog;
}

}  // namespace

void RequestLoader::load(WebKitWebView* webView, const std::string& url, std::chrono::milliseconds timeout) {
  Watchdog& watchdog = watchdogOf(webView);
  watchdog.disarm();
  // Armed first: a load that ends at once disarms it again. At worst the end of a load
  // this one replaced disarms it too; it never stops a load it was not armed for.
  watchdog.timer = g_timeout_add(static_cast<guint>(timeout.count()), onTimeout, webView);
  auto request = platform::gobject::ObjectRef<WebKitURIRequest>::adopt(webkit_uri_request_new(url.c_str()));
  webkit_web_view_load_request(webView, request.get());
}

}  // namespace app
