#include "broadcast/SampleHandler.h"

#include <semaphore>
#include <utility>
#include <variant>

#include "broadcast/ScreenFramePipe.h"
#include "broadcast/TrackName.h"
#include "platform/dispatch/WorkerPool.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace broadcast {

using platform::screencast::BroadcastError;
using platform::screencast::SampleBuffer;
using platform::screencast::SampleBufferType;

namespace {

constexpr const char* kSignalErrorDomain = "com.tarnwell.sorn.broadcast.SignalError";
constexpr const char* kTransportErrorDomain = "com.tarnwell.sorn.http";

void setScreenActive(bool active) {
  if (auto store = shared::SharedStore::open()) store->setBool(shared::keys::kScreenActive, active);
}

}  // namespace

BroadcastError broadcastErrorFor(const RequestError& error) {
  if (const SignalError* signalError = error.signalError()) {
    return {kSignalErrorDomain, static_cast<std::int64_t>(signalError->kind()), error.description()};
  }
  const auto& transportError = std::get<platform::http::TransportError>(error.cause);
  return {kTransportErrorDomain, static_cast<std::int64_t>(transportError.kind), error.description()};
}

void SampleHandler::broadcastStartedWithSetupInfo(
    const std::optional<platform::screencast::SetupInfo>& /*setupInfo*/) {
  auto credentials = ScreenShareStore::load();
  if (!credentials) {
    // No broadcast runs now, whatever an earlier one that was killed left stored.
    setScreenActive(false);
    finishBroadcastWithError({kBroadcastErrorDomain, kNoCredentialsErrorCode, _(kNoCredentialsDescription)});
    return;
  }
  setScreenActive(true);

  ScreenShareSignaling signaling{credentials->apiBase, credentials->token, credentials->channelId};
  std::string trackName = makeTrackName();
  {
    std::lock_guard lock(fieldsMutex_);
    signaling_ = signaling;
    trackName_ = trackName;
  }
  platform::dispatch::WorkerPool::shared().async(
      [weakHandler = weak_from_this(), signaling = std::move(signaling),
       credentials = std::move(*credentials), trackName = std::move(trackName)] {
        openScreenSession(weakHandler, signaling, credentials, trackName);
      });
}

void SampleHandler::openScreenSession(const std::weak_ptr<SampleHandler>& weakHandler,
                                      const ScreenShareSignaling& signaling,
                                      const ScreenShareStore::Credentials& credentials,
                                      const std::string& trackName) {
  Outcome<std::string> opened = signaling.openScreenSession(credentials.primarySessionId);
  if (!opened.ok()) {
    if (auto handler = weakHandler.lock())
      handler->finishBroadcastWithError(broadcastErrorFor(opened.error()));
    return;
  }
  const std::string& screenSessionId = opened.value();

  // A broadcast that finished (or whose handler is gone, which only happens after it
  // ended) while the request was out must not leave the session open on the service.
  bool broadcastGoesOn = false;
  if (auto handler = weakHandler.lock()) broadcastGoesOn = handler->adoptScreenSession(screenSessionId);
  if (!broadcastGoesOn) {
    (void)signaling.closeScreenSession(screenSessionId, trackName);
    return;
  }

  ScreenFramePipe::shared().start(signaling, screenSessionId, trackName);
  // The finish callback may have stopped the pipe between the adoption and the start
  // above, so the start would be queued after its stop: stop again behind it.
  auto handler = weakHandler.lock();
  if (!handler || handler->hasFinished()) ScreenFramePipe::shared().stop();
}

bool SampleHandler::adoptScreenSession(const std::string& screenSessionId) {
  std::lock_guard lock(fieldsMutex_);
  if (finished_) return false;
  screenSessionId_ = screenSessionId;
  return true;
}

bool SampleHandler::hasFinished() const {
  std::lock_guard lock(fieldsMutex_);
  return finished_;
}

void SampleHandler::processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) {
  if (type == SampleBufferType::video) ScreenFramePipe::shared().submit(sampleBuffer);
}

void SampleHandler::broadcastFinished() {
  std::optional<ScreenShareSignaling> signaling;
  std::optional<std::string> screenSessionId;
  std::optional<std::string> trackName;
  {
    // Marked before the pipe is stopped, so an open that completes from here on
    // closes its session itself and stops the pipe behind its own start.
    std::lock_guard lock(fieldsMutex_);
    finished_ = true;
    signaling = signaling_;
    screenSessionId = screenSessionId_;
    trackName = trackName_;
  }
  setScreenActive(false);
  ScreenFramePipe::shared().stop();
  if (!signaling || !screenSessionId) return;

  // The close task holds the semaphore, not the handler, and may outlive this wait.
  auto closed = std::make_shared<std::counting_semaphore<1>>(0);
  platform::dispatch::WorkerPool::shared().async([signaling = std::move(*signaling),
                                                  screenSessionId = std::move(*screenSessionId),
                                                  trackName = std::move(trackName), closed] {
    (void)signaling.closeScreenSession(screenSessionId, trackName);
    closed->release();
  });
  (void)closed->try_acquire_for(kCloseWaitLimit);
}

}  // namespace broadcast
