#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/screencast/extension/SampleBuffer.h"

namespace platform::screencast {

// What a sample carries, with the numbers the broadcast service uses.
enum class SampleBufferType : int { video = 1, audioApp = 2, audioMic = 3 };

// An error handed to the broadcast service to end a broadcast: a domain, a code and
// the description the user sees.
struct BroadcastError {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
};

// Setup information the broadcast service may pass at start.
using SetupInfo = std::map<std::string, std::string>;

// The broadcast service as a handler sees it: where a broadcast is ended with an error.
class BroadcastService {
 public:
  virtual ~BroadcastService() = default;
  // Ends the broadcast with the error; returns at once, from any thread.
  virtual void finishBroadcastWithError(const BroadcastError& error) = 0;

 protected:
  BroadcastService() = default;
  BroadcastService(const BroadcastService&) = default;
  BroadcastService& operator=(const BroadcastService&) = default;
  BroadcastService(BroadcastService&&) = default;
  BroadcastService& operator=(BroadcastService&&) = default;
};

// Base of a broadcast extension's principal class, which the extension host drives
// through three callbacks: started and finished on the host's main thread, one call
// per captured sample on the capture thread. finishBroadcastWithError may be called
// from any thread.
class BroadcastSampleHandler {
 public:
  BroadcastSampleHandler() = default;
  virtual ~BroadcastSampleHandler() = default;
  BroadcastSampleHandler(const BroadcastSampleHandler&) = delete;
  BroadcastSampleHandler& operator=(const BroadcastSampleHandler&) = delete;

  virtual void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& setupInfo) = 0;
  virtual void processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) = 0;
  virtual void broadcastFinished() = 0;

  // Asks the broadcast service to end this broadcast with the error; returns at once.
  // Without a service attached the error goes nowhere.
  void finishBroadcastWithError(const BroadcastError& error);

  // The host attaches its service before the first callback. The handler keeps it
  // weakly: an error that arrives after the host has gone is dropped.
  void attachService(const std::shared_ptr<BroadcastService>& service);

 private:
  std::mutex serviceMutex_;
  std::weak_ptr<BroadcastService> service_;
};

}  // namespace platform::screencast
