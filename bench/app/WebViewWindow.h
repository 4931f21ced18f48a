#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/gobject/ObjectRef.h"

namespace bench {

// A window of the app's size showing one web view; the window goes with this object.
// GTK main thread.
class WebViewWindow {
 public:
  // The app's root view around the real SornWebView, its Coordinator on the desktop's
  // services (main-loop queue, widget reload signal, the desktop's opener) and keeping
  // `serviceDomain`'s pages.
  static std::unique_ptr<WebViewWindow> app(const std::string& url, const std::string& serviceDomain);

  // `content` (a floating reference) becomes the window's child; `webView` is in it and
  // already loading its page.
  WebViewWindow(GtkWidget* content, WebKitWebView* webView);
  // Also lets the engine take its processes down before what runs next.
  ~WebViewWindow();
  WebViewWindow(const WebViewWindow&) = delete;
  WebViewWindow& operator=(const WebViewWindow&) = delete;

  [[nodiscard]] GtkWidget* widget() const { return GTK_WIDGET(window_.get()); }
  [[nodiscard]] WebKitWebView* webView() const { return webView_; }

  // Shows the window and waits until its page has loaded; false when it has not within
  // `limit`.
  bool presentLoaded(std::chrono::milliseconds limit);
  // Starts the script in the page's main world; its result is not waited for.
  void run(const std::string& script) const;

 private:
  static void onLoadChanged(WebKitWebView* webView, WebKitLoadEvent event, gpointer self);

  platform::gobject::ObjectRef<GtkWindow> window_;
  WebKitWebView* webView_;  // owned by the window
  bool loaded_ = false;
};

}  // namespace bench
