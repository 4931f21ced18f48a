#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace demo {

class VoiceCalls;

// Why the voice peer did not do what it was asked.
struct VoiceRefusal {
  enum class Kind { unavailable, busy, badOffer, unknownCall, failed };
  Kind kind;
  std::string message;  // a sentence for the caller
};

// The peer's answer to an offer: the call it made and the answer SDP, which holds the
// peer's ICE candidates.
struct VoiceAnswer {
  std::string id;
  std::string sdp;
};

struct VoiceCallStatus {
  std::string id;
  std::string state;  // "answering", then the connection state: "connecting", "connected", ...
  std::uint64_t packetsReceived = 0;
  std::uint64_t bytesReceived = 0;
  double secondsSinceOffer = 0;
};

struct EndedVoiceCall {
  std::string id;
  std::string reason;
};

struct VoicePeerState {
  std::vector<VoiceCallStatus> calls;
  std::vector<EndedVoiceCall> ended;  // the latest first
};

// The demo service's voice peer: answers callers' WebRTC offers and sends each caller's
// audio straight back. GStreamer runs on a GLib main context and a thread of the peer's
// own; its operations may be called from any thread and wait for that thread's reply.
class VoicePeer {
 public:
  static constexpr std::size_t kMaxCalls = 4;

  // Starts the peer's thread, which loads GStreamer there; calls made before it is ready
  // wait for it.
  VoicePeer();
  // Ends every call and stops the thread.
  ~VoicePeer();
  VoicePeer(const VoicePeer&) = delete;
  VoicePeer& operator=(const VoicePeer&) = delete;

  std::variant<VoiceAnswer, VoiceRefusal> answer(const std::string& offerSdp);
  std::optional<VoiceRefusal> hangUp(const std::string& id);
  std::variant<VoicePeerState, VoiceRefusal> state();

 private:
  // Runs `task` on the peer's thread.
  void post(std::function<void()> task);
  // Runs `question` on the peer's thread and gives its reply; a refusal when the peer
  // stopped or did not reply in time.
  template <typename Reply>
  std::variant<Reply, VoiceRefusal> ask(
      std::function<void(VoiceCalls&, std::function<void(std::variant<Reply, VoiceRefusal>)>)> question);
  void run();
  void runPostedTasks();
  // The peer thread's last task: ends every call and the loop; later tasks are dropped.
  void stop();

  struct MainLoop;
  const std::unique_ptr<MainLoop> loop_;
  std::unique_ptr<VoiceCalls> calls_;  // made, used and destroyed on thread_

  std::mutex tasksMutex_;
  std::deque<std::function<void()>> tasks_;  // guarded by tasksMutex_
  bool stopped_ = false;                     // guarded by tasksMutex_

  std::thread thread_;
};

}  // namespace demo
