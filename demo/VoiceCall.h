#pragma once

#include <gst/app/app.h>
#include <gst/gst.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "demo/VoiceOffer.h"
#include "platform/gobject/ObjectRef.h"

namespace demo {

// One call of the voice peer: a webrtcbin pipeline that answers one offer and sends the
// caller's Opus RTP straight back, without decoding it. Made, driven and destroyed on the
// peer's thread; GStreamer's threads only count media and hand events to that thread.
class VoiceCall {
 public:
  // What a step of the call comes to, for its owner to act on once the step returned.
  struct Answered {
    std::string sdp;
  };
  struct Ended {
    std::string reason;
    bool offerRefused = false;  // webrtcbin would not take the offer
  };
  using Outcome = std::variant<std::monostate, Answered, Ended>;
  using Step = std::function<Outcome(VoiceCall&)>;
  // Runs a step on the peer's thread later, if the call with this id still exists then.
  using PostStep = std::function<void(const std::string& id, Step step)>;

  // Builds the pipeline and starts answering; an error sentence when it cannot.
  static std::variant<std::unique_ptr<VoiceCall>, std::string> start(std::string id, const VoiceOffer& offer,
                                                                     PostStep postStep);
  // Stops the pipeline, which ends GStreamer's threads of the call, and frees it.
  ~VoiceCall();
  VoiceCall(const VoiceCall&) = delete;
  VoiceCall& operator=(const VoiceCall&) = delete;

  // "connecting" until webrtcbin connects, then its connection state.
  std::string connectionState() const;
  std::uint64_t packetsReceived() const { return packetsReceived_.load(std::memory_order_relaxed); }
  std::uint64_t bytesReceived() const { return bytesReceived_.load(std::memory_order_relaxed); }
  // When RTP from the caller last came, if it came.
  std::optional<std::chrono::steady_clock::time_point> lastMediaAt() const;

 private:
  VoiceCall(std::string id, PostStep postStep);
  std::optional<std::string> build(const VoiceOffer& offer);
  // The ICE agent gathers on 127.0.0.1 alone: the demo plays the service on loopback, and
  // libnice leaves loopback out unless it is given.
  std::optional<std::string> useLoopbackOnly();
  void takeOffer(const VoiceOffer& offer);
  void post(Step step) const { postStep_(id_, std::move(step)); }

  // The negotiation, one step per webrtcbin reply.
  Outcome remoteDescriptionSet(const std::optional<std::string>& error);
  struct Refusal {
    std::string reason;
  };
  Outcome answerCreated(const std::variant<std::string, Refusal>& answer);  // the answer SDP, or why none
  Outcome localDescriptionSet(const std::optional<std::string>& error);
  Outcome answerIfGathered();
  Outcome connectionStateChanged();

  // GStreamer's threads.
  static void onPadAdded(GstElement* webrtc, GstPad* pad, gpointer self);
  static GstFlowReturn onEchoSample(GstAppSink* sink, gpointer self);
  static GstPadProbeReturn onIncomingRtp(GstPad* pad, GstPadProbeInfo* info, gpointer self);
  static void onGatheringStateChanged(GstElement* webrtc, GParamSpec* pspec, gpointer self);
  static void onConnectionStateChanged(GstElement* webrtc, GParamSpec* pspec, gpointer self);
  static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
  static void onRemoteDescriptionReply(GstPromise* promise, gpointer self);
  static void onAnswerReply(GstPromise* promise, gpointer self);
  static void onLocalDescriptionReply(GstPromise* promise, gpointer self);

  const std::string id_;
  const PostStep postStep_;
  platform::gobject::ObjectRef<GstElement> pipeline_;
  GstElement* webrtc_ = nullptr;                  // owned by pipeline_
  GstElement* echoSink_ = nullptr;                // owned by pipeline_: takes the caller's RTP
  GstElement* echoSource_ = nullptr;              // owned by pipeline_: sends it back
  GstElement* payloader_ = nullptr;               // owned by pipeline_: the echo's last element
  platform::gobject::ObjectRef<GstPad> sendPad_;  // webrtcbin's pad the echo goes out through
  bool localDescriptionSet_ = false;
  bool answered_ = false;

  std::atomic<bool> echoLinked_{false};
  std::atomic<std::uint64_t> packetsReceived_{0};
  std::atomic<std::uint64_t> bytesReceived_{0};
  std::atomic<std::int64_t> lastMediaAt_{-1};  // steady_clock ticks; -1 before any
};

}  // namespace demo
