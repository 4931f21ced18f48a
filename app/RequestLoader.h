#pragma once

#include <webkit/webkit.h>

#include <chrono>
#include <string>

namespace app {

// Loads a fresh request (GET, no body, no extra headers) for a URL into a web view.
// WebKitGTK has no per-request timeout, so this keeps the nearest thing: when no
// response has arrived within the timeout, the load is stopped and fails as the engine
// fails any stopped load. Main thread.
class RequestLoader {
 public:
  static constexpr std::chrono::milliseconds kTimeout{60'000};

  static void load(WebKitWebView* webView, const std::string& url,
                   std::chrono::milliseconds timeout = kTimeout);
};

}  // namespace app
