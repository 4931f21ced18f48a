#pragma once

#include <glib.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "demo/VoiceCall.h"
#include "demo/VoicePeer.h"

namespace demo {

// The voice peer's calls: makes them from offers, replies once each is answered, and
// ends them on hang-up, on failure, when the caller stops sending and at the time limit.
// Lives on the peer's thread; `post` brings events of the calls' GStreamer threads there.
class VoiceCalls {
 public:
  template <typename Result>
  using Reply = std::function<void(std::variant<Result, VoiceRefusal>)>;

  // `unavailable` says why no call can be made, when none can.
  VoiceCalls(std::function<void(std::function<void()>)> post, std::optional<std::string> unavailable);
  // Ends every call; a caller still waiting for an answer is told that the peer stopped.
  ~VoiceCalls();
  VoiceCalls(const VoiceCalls&) = delete;
  VoiceCalls& operator=(const VoiceCalls&) = delete;

  void offer(const std::string& sdp, Reply<VoiceAnswer> reply);
  std::optional<VoiceRefusal> hangUp(const std::string& id);
  std::variant<VoicePeerState, VoiceRefusal> state() const;

 private:
  struct Entry {
    std::unique_ptr<VoiceCall> call;
    Reply<VoiceAnswer> reply;  // until the answer is given
    std::chrono::steady_clock::time_point startedAt;
    std::optional<std::chrono::steady_clock::time_point> answeredAt;
  };

  void apply(const std::string& id, VoiceCall::Outcome outcome);
  void end(const std::string& id, const std::string& reason,
           VoiceRefusal::Kind refusal = VoiceRefusal::Kind::failed);
  void checkLimits();
  void updateTicker();

  const std::function<void(std::function<void()>)> post_;
  const std::optional<std::string> unavailable_;
  std::uint64_t nextNumber_ = 1;
  std::map<std::string, Entry> calls_;
  std::deque<EndedVoiceCall> ended_;
  struct SourceDestroyer {
    void operator()(GSource* source) const;
  };
  std::unique_ptr<GSource, SourceDestroyer> ticker_;  // runs checkLimits every second while there are calls
};

}  // namespace demo
