#include "app/Coordinator.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "app/MessageFields.h"
#include "app/ServiceHost.h"
#include "platform/dispatch/Guarded.h"
#include "platform/http/HostNames.h"
#include "shared/SharedStore.h"
#include "shared/StoreChanges.h"
#include "shared/StoreKeys.h"

namespace app {

namespace {

// Pages may hand out links without a gesture (a frame navigating, a script's window); more
// than this many a second would have the desktop start programs without end.
constexpr std::chrono::seconds kUnaskedHandOutInterval{1};

}  // namespace

Coordinator::Coordinator(CoordinatorServices services, std::string serviceDomain)
    : services_(std::move(services)), serviceDomain_(std::move(serviceDomain)) {}

Coordinator::~Coordinator() {
  // A destructor lets nothing through; figures that fail to be written are lost as if the
  // app had died.
  platform::dispatch::runGuarded([this] { writePendingStats(); });
}

void Coordinator::userContentController(std::string_view messageJson) {
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

void Coordinator::handleStats(const nlohmann::json& body) {
  const bool writeQueued = pendingStats_->has_value();
  *pendingStats_ =
      StatsRecord{fields::integer(body, "voice_seconds"), fields::integer(body, "streak_days"),
                  fields::integer(body, "best_streak"), fields::string(body, "username"), services_.now()};
  if (writeQueued) return;
  services_.mainQueue.post([this, pending = std::weak_ptr(pendingStats_)] {
    if (pending.lock()) writePendingStats();
  });
}

void Coordinator::writePendingStats() {
  if (!pendingStats_->has_value()) return;
  const StatsRecord record = std::move(**pendingStats_);
  pendingStats_->reset();
  if (auto store = shared::SharedStore::open()) {
    store->write(shared::StoreChanges()
                     .setInteger(shared::keys::kVoiceSeconds, record.voiceSeconds)
                     .setInteger(shared::keys::kStreakDays, record.streakDays)
                     .setInteger(shared::keys::kBestStreak, record.bestStreak)
                     .setString(shared::keys::kUsername, record.username)
                     .setDouble(shared::keys::kStatsUpdatedAt, record.updatedAt));
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
  store->write(shared::StoreChanges()
                   .setString(shared::keys::kAccessToken, token)
                   .setString(shared::keys::kChannelId, channelId)
                   .setString(shared::keys::kPrimarySessionId, sessionId)
                   .setString(shared::keys::kApiBase, apiBase)
                   .setDouble(shared::keys::kCredentialsUpdatedAt, services_.now()));
}

void Coordinator::handleVoiceLeft() {
  auto store = shared::SharedStore::open();
  if (!store) return;
  store->write(shared::StoreChanges()
                   .remove(shared::keys::kAccessToken)
                   .remove(shared::keys::kChannelId)
                   .remove(shared::keys::kPrimarySessionId)
                   .remove(shared::keys::kApiBase)
                   .remove(shared::keys::kCredentialsUpdatedAt)
                   .setBool(shared::keys::kScreenActive, false));
}

void Coordinator::requestMediaCapturePermissionFor(
    const std::optional<WebUrl>& requestingPage,
    const std::function<void(PermissionDecision)>& decisionHandler) const {
  const bool service = requestingPage && isServicePage(*requestingPage);
  decisionHandler(service ? PermissionDecision::grant : PermissionDecision::deny);
}

void Coordinator::decidePolicyFor(const std::optional<WebUrl>& url, bool userGesture,
                                  const std::function<void(NavigationActionPolicy)>& decisionHandler) {
  if (!url || isServicePage(*url) || url->scheme == "about" || url->scheme == "blob" ||
      url->scheme == "data") {
    decisionHandler(NavigationActionPolicy::allow);
    return;
  }
  // The engine learns the answer before the desktop starts another program.
  decisionHandler(NavigationActionPolicy::cancel);
  handOut(*url, userGesture);
}

void Coordinator::createWebViewWith(const std::optional<WebUrl>& url, bool userGesture,
                                    const std::function<void(const std::string&)>& loadInAskingWebView) {
  if (!url) return;
  if (isServicePage(*url)) {
    loadInAskingWebView(url->text);
  } else {
    handOut(*url, userGesture);
  }
}

void Coordinator::handOut(const WebUrl& url, bool userGesture) {
  if (!userGesture) {
    const auto now = services_.steadyNow();
    if (lastUnaskedHandOut_ && now - *lastUnaskedHandOut_ < kUnaskedHandOutInterval) return;
    lastUnaskedHandOut_ = now;
  }
  services_.opener.openExternally(url.text);
}

bool Coordinator::isServicePage(const WebUrl& url) const {
  if (!url.host || !isServiceHost(*url.host, serviceDomain_)) return false;
  return url.scheme == "https" || (url.scheme == "http" && platform::http::isLoopbackHost(*url.host));
}

}  // namespace app
