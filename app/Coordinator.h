#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "app/CoordinatorServices.h"
#include "app/WebUrl.h"
#include "shared/Constants.h"

namespace app {

enum class NavigationActionPolicy { cancel, allow };
enum class PermissionDecision { deny, grant };

// The web view's delegate: turns the page's messages into stored state, keeps navigation
// on the service and decides camera and microphone requests. Every decision handler is
// answered exactly once, before the call returns. Between calls it keeps only the newest
// statistics not yet written and when it last handed out a URL nobody asked for.
// Main thread, where the web engine delivers its callbacks.
class Coordinator {
 public:
  explicit Coordinator(CoordinatorServices services, std::string serviceDomain = shared::kServiceDomain);
  // Writes the statistics still waiting for their turn.
  ~Coordinator();
  Coordinator(const Coordinator&) = delete;
  Coordinator& operator=(const Coordinator&) = delete;

  // A message the page posted to the "sorn" handler, as the JSON text of its value.
  // Statistics are written on the main queue's next turn; newer ones arriving before
  // then replace them, so a page posting faster than the store writes loses nothing but
  // figures that were already out of date.
  void userContentController(std::string_view messageJson);

  // A camera or microphone request of the page at `requestingPage`: granted only for
  // the service's own hosts.
  void requestMediaCapturePermissionFor(const std::optional<WebUrl>& requestingPage,
                                        const std::function<void(PermissionDecision)>& decisionHandler) const;

  // Every navigation of every frame: service pages and about/blob/data stay, anything
  // else is cancelled and handed to the desktop. No URL at all is allowed. Of the URLs
  // not started by a user gesture, at most one a second is handed out.
  void decidePolicyFor(const std::optional<WebUrl>& url, bool userGesture,
                       const std::function<void(NavigationActionPolicy)>& decisionHandler);

  // A request for a new window. There never is a second web view: a service URL is loaded
  // afresh in the asking web view through `loadInAskingWebView`, anything else is handed
  // to the desktop, paced like navigations.
  void createWebViewWith(const std::optional<WebUrl>& url, bool userGesture,
                         const std::function<void(const std::string&)>& loadInAskingWebView);

 private:
  struct StatsRecord {
    std::int64_t voiceSeconds;
    std::int64_t streakDays;
    std::int64_t bestStreak;
    std::string username;
    double updatedAt;
  };

  // A service page: https on a service host, or plain http to a service host that is
  // loopback. Only these hold the bridge, so nothing else may replace them in the view.
  [[nodiscard]] bool isServicePage(const WebUrl& url) const;
  void handOut(const WebUrl& url, bool userGesture);
  void handleStats(const nlohmann::json& body);
  void writePendingStats();
  void handleVoiceJoined(const nlohmann::json& body) const;
  static void handleVoiceLeft();

  CoordinatorServices services_;
  std::string serviceDomain_;
  // Shared with the queued write, which finds it gone once the Coordinator is.
  std::shared_ptr<std::optional<StatsRecord>> pendingStats_ = std::make_shared<std::optional<StatsRecord>>();
  std::optional<std::chrono::steady_clock::time_point> lastUnaskedHandOut_;
};

}  // namespace app
