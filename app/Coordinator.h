#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "app/CoordinatorServices.h"
#include "app/WebUrl.h"
#include "shared/Constants.h"

namespace app {

enum class NavigationActionPolicy { cancel, allow };
enum class PermissionDecision { deny, grant };

// The web view's delegate: turns the page's messages into stored state, keeps navigation
// on the service and decides camera and microphone requests. Keeps nothing between
// calls; every decision handler is answered exactly once, before the call returns.
// Main thread, where the web engine delivers its callbacks.
class Coordinator {
 public:
  explicit Coordinator(CoordinatorServices services, std::string serviceDomain = shared::kServiceDomain);

  // A message the page posted to the "sorn" handler, as the JSON text of its value.
  void userContentController(std::string_view messageJson) const;

  // A camera or microphone request of the page at `requestingPage`: granted only for
  // the service's own hosts.
  void requestMediaCapturePermissionFor(const std::optional<WebUrl>& requestingPage,
                                        const std::function<void(PermissionDecision)>& decisionHandler) const;

  // Every navigation of every frame: service hosts and about/blob/data stay, anything
  // else is cancelled and handed to the desktop. No URL at all is allowed.
  void decidePolicyFor(const std::optional<WebUrl>& url,
                       const std::function<void(NavigationActionPolicy)>& decisionHandler) const;

  // A request for a new window. There never is a second web view: a service URL is loaded
  // afresh in the asking web view through `loadInAskingWebView`, anything else is handed
  // to the desktop.
  void createWebViewWith(const std::optional<WebUrl>& url,
                         const std::function<void(const std::string&)>& loadInAskingWebView) const;

 private:
  [[nodiscard]] bool hasServiceHost(const WebUrl& url) const;
  void handleStats(const nlohmann::json& body) const;
  void handleVoiceJoined(const nlohmann::json& body) const;
  void handleVoiceLeft() const;

  CoordinatorServices services_;
  std::string serviceDomain_;
};

}  // namespace app
