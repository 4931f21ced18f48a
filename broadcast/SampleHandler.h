#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "broadcast/ScreenShareStore.h"
#include "broadcast/signaling/RequestError.h"
#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/screencast/extension/BroadcastSampleHandler.h"
#include "platform/text/Translation.h"

namespace broadcast {

// The refusal when no voice channel is joined; its description is shown translated.
inline constexpr const char* kBroadcastErrorDomain = "com.tarnwell.sorn.broadcast";
inline constexpr std::int64_t kNoCredentialsErrorCode = 1;
inline constexpr const char* kNoCredentialsDescription =
    N_("Join a Sorn voice channel before sharing your screen.");
// How long the finish callback waits for the close request.
inline constexpr std::chrono::milliseconds kCloseWaitLimit{2000};
// How long requests of a finished broadcast may still run: an open that was out at
// finish, then the close of the session it opened, each within the request timeout.
inline constexpr std::chrono::seconds kRequestsAfterFinishLimit = 2 * ScreenShareSignaling::kRequestTimeout;

// The error a failed open request ends the broadcast with; its description is the
// one the user sees (the SignalError's or the transport's).
platform::screencast::BroadcastError broadcastErrorFor(const RequestError& error);

// The extension's principal class: ties one system broadcast to a screen session of
// the service. Own it through a std::shared_ptr (its tasks hold it weakly). The host
// calls started and finished on its main thread and the sample callback on the
// capture thread; the open and close requests run on the shared worker pool.
class SampleHandler final : public platform::screencast::BroadcastSampleHandler,
                            public std::enable_shared_from_this<SampleHandler> {
 public:
  SampleHandler() = default;

  // Loads the credentials; refuses without them (marking no broadcast active), else
  // marks the broadcast active and opens the screen session in the background. Never
  // waits for the network.
  void broadcastStartedWithSetupInfo(
      const std::optional<platform::screencast::SetupInfo>& setupInfo) override;
  // Hands video to the frame pipe; audio is ignored.
  void processSampleBuffer(const platform::screencast::SampleBuffer& sampleBuffer,
                           platform::screencast::SampleBufferType type) override;
  // Marks the broadcast inactive, stops the pipe and closes an open session, waiting
  // at most kCloseWaitLimit for the close.
  void broadcastFinished() override;

 private:
  static void openScreenSession(const std::weak_ptr<SampleHandler>& weakHandler,
                                const ScreenShareSignaling& signaling,
                                const ScreenShareStore::Credentials& credentials,
                                const std::string& trackName);
  // Records an opened session unless the broadcast has finished; false when it has.
  bool adoptScreenSession(const std::string& screenSessionId);
  [[nodiscard]] bool hasFinished() const;

  // Each read or write of the fields takes the lock for that step alone, never
  // across a request, a wait or a call into the frame pipe.
  mutable std::mutex fieldsMutex_;
  std::optional<ScreenShareSignaling> signaling_;
  std::optional<std::string> screenSessionId_;
  std::optional<std::string> trackName_;
  // Set when the finish callback starts; a session that opens later is closed at once.
  bool finished_ = false;
};

}  // namespace broadcast
