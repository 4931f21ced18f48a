#include "app/Coordinator.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "app/MessageFields.h"
#include "app/ServiceHost.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace app {

Coordinator::Coordinator(CoordinatorServices services, std::string serviceDomain)
    : services_(std::move(services)), serviceDomain_(std::move(serviceDomain)) {}

void Coordinator::userContentController(std::string_view messageJson) const {
  // Text that is not JSON (or not valid UTF-8, e.g. a lone surrogate escape) is ignored
  // as a whole, like any other body that is not an object.
  const nlohmann::json body = nlohmann::json::parse(messageJson, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object()) return;
  const auto type = body.find("type");
  if (type == body.end() || !type->is_string()) return;
  const auto& kind = type->get_ref<const std::string&>();
  if (kind == "voiceJoined") {
    handleVoiceJoined(body);
  } else if (kind == "voiceLeft") {
    handleVoiceLeft();
  } else if (kind == "startScreenShare") {
    services_.broadcastLauncher.startBroadcast();
  } else if (kind == "stats") {
    handleStats(body);
  }
}

void Coordinator::handleStats(const nlohmann::json& body) const {
  const std::int64_t voiceSeconds = fields::integer(body, "voice_seconds");
  const std::int64_t streakDays = fields::integer(body, "streak_days");
  const std::int64_t bestStreak = fields::integer(body, "best_streak");
  const std::string username = fields::string(body, "username");
  if (auto store = shared::SharedStore::open()) {
    store->setInteger(shared::keys::kVoiceSeconds, voiceSeconds);
    store->setInteger(shared::keys::kStreakDays, streakDays);
    store->setInteger(shared::keys::kBestStreak, bestStreak);
    store->setString(shared::keys::kUsername, username);
    store->setDouble(shared::keys::kStatsUpdatedAt, services_.now());
  }
  // The widgets re-read whatever the store holds, also when this write was skipped.
  services_.widgetCenter.reloadAllTimelines();
}

void Coordinator::handleVoiceJoined(const nlohmann::json& body) const {
  const std::string token = fields::string(body, "token");
  const std::string channelId = fields::string(body, "channel_id");
  const std::string sessionId = fields::string(body, "session_id");
  const std::string apiBase = fields::string(body, "api_base", shared::kDefaultApiBase);
  auto store = shared::SharedStore::open();
  if (!store) return;
  store->setString(shared::keys::kAccessToken, token);
  store->setString(shared::keys::kChannelId, channelId);
  store->setString(shared::keys::kPrimarySessionId, sessionId);
  store->setString(shared::keys::kApiBase, apiBase);
  store->setDouble(shared::keys::kCredentialsUpdatedAt, services_.now());
}

void Coordinator::handleVoiceLeft() const {
  auto store = shared::SharedStore::open();
  if (!store) return;
  store->remove(shared::keys::kAccessToken);
  store->remove(shared::keys::kChannelId);
  store->remove(shared::keys::kPrimarySessionId);
  store->remove(shared::keys::kApiBase);
  store->remove(shared::keys::kCredentialsUpdatedAt);
  store->setBool(shared::keys::kScreenActive, false);
}

void Coordinator::requestMediaCapturePermissionFor(
    const std::optional<WebUrl>& requestingPage, const std::function<void(PermissionDecision)>& decisionHandler) const {
  const bool service = requestingPage && hasServiceHost(*requestingPage);
  decisionHandler(service ? PermissionDecision::grant : PermissionDecision::deny);
}

void Coordinator::decidePolicyFor(const std::optional<WebUrl>& url,
                                  const std::function<void(NavigationActionPolicy)>& decisionHandler) const {
  if (!url || hasServiceHost(*url) || url->scheme == "about" || url->scheme == "blob" || url->scheme == "data") {
    decisionHandler(NavigationActionPolicy::allow);
    return;
  }
  // The engine learns the answer before the desktop starts another program.
  decisionHandler(NavigationActionPolicy::cancel);
  services_.opener.openExternally(url->text);
}

void Coordinator::createWebViewWith(const std::optional<WebUrl>& url,
                                    const std::function<void(const std::string&)>& loadInAskingWebView) const {
  if (!url) return;
  if (hasServiceHost(*url)) {
    loadInAskingWebView(url->text);
  } else {
    services_.opener.openExternally(url->text);
  }
}

bool Coordinator::hasServiceHost(const WebUrl& url) const {
  return url.host && isServiceHost(*url.host, serviceDomain_);
}

}  // namespace app
