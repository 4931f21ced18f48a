#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/Coordinator.h"

namespace apptest {

// The real SornWebView in the RootView layout in a window on the test's display,
// wired to a Coordinator of the test's choosing. Main thread.
class WebViewHarness {
 public:
  WebViewHarness(const std::string& url, app::CoordinatorServices services, const std::string& serviceDomain);
  ~WebViewHarness();
  WebViewHarness(const WebViewHarness&) = delete;
  WebViewHarness& operator=(const WebViewHarness&) = delete;

  GtkWindow* window() const { return window_; }
  WebKitWebView* webView() const { return webView_; }
  std::string uri() const;
  // Loads that finished (successfully or not) so far.
  int finishedLoads() const { return finishedLoads_; }

  // Runs the main loop until `done` holds or the limit passes; false on the limit.
  static bool spinUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Runs the script in the page's main frame (the engine counts it as a user gesture)
  // and gives the JSON text of its result, or "exception: ..." when it threw.
  std::string evaluate(const std::string& script);
  // Evaluates `expression` until it gives `expected` (JSON text) or the limit passes;
  // the last result either way.
  std::string waitFor(const std::string& expression, const std::string& expected,
                      std::chrono::milliseconds limit = std::chrono::seconds(30));

 private:
  std::shared_ptr<app::Coordinator> coordinator_;
  GtkWindow* window_ = nullptr;
  WebKitWebView* webView_ = nullptr;
  int finishedLoads_ = 0;
};

}  // namespace apptest
