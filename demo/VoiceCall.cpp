#include "demo/VoiceCall.h"

#include <gst/sdp/sdp.h>

#include <utility>

#include "platform/dispatch/Guarded.h"

namespace demo {

namespace {

using platform::gobject::ObjectRef;

constexpr const char* kLocalAddress = "127.0.0.1";

// What a webrtcbin promise came to: nothing when it succeeded, otherwise why not.
std::optional<std::string> promiseError(GstPromise* promise) {
  if (gst_promise_wait(promise) != GST_PROMISE_RESULT_REPLIED) return std::string("webrtcbin gave no reply");
  const GstStructure* reply = gst_promise_get_reply(promise);
  if (reply == nullptr || gst_structure_has_field(reply, "error") == FALSE) return std::nullopt;
  g_autoptr(GError) error = nullptr;
  gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr);
  return std::string(error != nullptr ? error->message : "unknown error");
}

std::string connectionStateName(GstWebRTCPeerConnectionState state) {
  switch (state) {
    case GST_WEBRTC_PEER_CONNECTION_STATE_NEW:
    case GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTING:
      return "connecting";
    case GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED:
      return "connected";
    case GST_WEBRTC_PEER_CONNECTION_STATE_DISCONNECTED:
      return "disconnected";
    case GST_WEBRTC_PEER_CONNECTION_STATE_FAILED:
      return "failed";
    case GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED:
      return "closed";
  }
  return "unknown";
}

GstElement* addElement(GstElement* pipeline, const char* factory) {
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (element != nullptr) gst_bin_add(GST_BIN(pipeline), element);
  return element;
}

}  // namespace

VoiceCall::VoiceCall(std::string id, PostStep postStep)
    : id_(std::move(id)), postStep_(std::move(postStep)) {}

std::variant<std::unique_ptr<VoiceCall>, std::string> VoiceCall::start(std::string id,
                                                                       const VoiceOffer& offer,
                                                                       PostStep postStep) {
  std::unique_ptr<VoiceCall> call(new VoiceCall(std::move(id), std::move(postStep)));
  if (auto error = call->build(offer)) return *error;
  return call;
}

std::optional<std::string> VoiceCall::build(const VoiceOffer& offer) {
  pipeline_ = ObjectRef<GstElement>::retain(gst_pipeline_new(nullptr));
  // The caller's RTP goes back with a new SSRC, sequence and timestamps: depayloading and
  // payloading again does not decode the Opus frames. The way back starts at an
  // application source, so that the pipeline's graph has no loop through webrtcbin.
  webrtc_ = addElement(pipeline_.get(), "webrtcbin");
  echoSink_ = addElement(pipeline_.get(), "appsink");
  echoSource_ = addElement(pipeline_.get(), "appsrc");
  GstElement* depayloader = addElement(pipeline_.get(), "rtpopusdepay");
  payloader_ = addElement(pipeline_.get(), "rtpopuspay");
  if (webrtc_ == nullptr || echoSink_ == nullptr || echoSource_ == nullptr || depayloader == nullptr ||
      payloader_ == nullptr)
    return std::string("A GStreamer element of the voice peer is missing.");
  g_object_set(webrtc_, "bundle-policy", GST_WEBRTC_BUNDLE_POLICY_MAX_BUNDLE, nullptr);
  if (auto error = useLoopbackOnly()) return error;

  // The answer names the SSRC the echo goes out with: a caller may drop a stream whose
  // SSRC it was not told, and the payloader's own is not known before its first packet.
  const guint ssrc = g_random_int_range(1, G_MAXINT32);
  g_object_set(payloader_, "pt", static_cast<guint>(offer.opusPayloadType), "ssrc", ssrc, nullptr);
  g_autoptr(GstCaps) opus =
      gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio", "encoding-name",
                          G_TYPE_STRING, "OPUS", "clock-rate", G_TYPE_INT, 48000, "payload", G_TYPE_INT,
                          offer.opusPayloadType, "ssrc", G_TYPE_UINT, ssrc, nullptr);
  g_object_set(echoSink_, "sync", FALSE, "async", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &VoiceCall::onEchoSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(echoSink_), &callbacks, this, nullptr);
  g_object_set(echoSource_, "caps", opus, "format", GST_FORMAT_TIME, "is-live", TRUE, nullptr);

  // A sending transceiver before the offer is taken, so that the answer is sendrecv.
  // The payloader is linked to it once the answer is made: the caps it would offer now
  // (stereo or not) could differ from the offer's, and webrtcbin would then answer with a
  // receive-only transceiver of its own.
  sendPad_ = ObjectRef<GstPad>::adopt(gst_element_request_pad_simple(webrtc_, "sink_%u"));
  if (!sendPad_ || gst_element_link_many(echoSource_, depayloader, payloader_, nullptr) == FALSE)
    return std::string("The voice peer's echo could not be linked.");
  g_autoptr(GstWebRTCRTPTransceiver) transceiver = nullptr;
  g_object_get(sendPad_.get(), "transceiver", &transceiver, nullptr);
  g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDRECV, "codec-preferences",
               opus, nullptr);

  g_signal_connect(webrtc_, "pad-added", G_CALLBACK(&VoiceCall::onPadAdded), this);
  g_signal_connect(webrtc_, "notify::ice-gathering-state", G_CALLBACK(&VoiceCall::onGatheringStateChanged),
                   this);
  g_signal_connect(webrtc_, "notify::connection-state", G_CALLBACK(&VoiceCall::onConnectionStateChanged),
                   this);
  g_autoptr(GstBus) bus = gst_element_get_bus(pipeline_.get());
  gst_bus_set_sync_handler(bus, &VoiceCall::onBusMessage, this, nullptr);
  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
    return std::string("The voice peer's pipeline did not start.");
  takeOffer(offer);
  return std::nullopt;
}

std::optional<std::string> VoiceCall::useLoopbackOnly() {
  g_autoptr(GstWebRTCICE) ice = nullptr;
  g_object_get(webrtc_, "ice-agent", &ice, nullptr);
  gboolean added = FALSE;
  g_signal_emit_by_name(ice, "add-local-ip-address", kLocalAddress, &added);
  if (added == FALSE) return std::string("The voice peer cannot use the loopback address.");
  g_object_set(ice, "ice-tcp", FALSE, nullptr);
  return std::nullopt;
}

void VoiceCall::takeOffer(const VoiceOffer& offer) {
  GstSDPMessage* sdp = nullptr;
  gst_sdp_message_new_from_text(offer.sdp.c_str(), &sdp);
  g_autoptr(GstWebRTCSessionDescription) description =
      gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_OFFER, sdp);  // takes the message
  g_autoptr(GstPromise) promise =
      gst_promise_new_with_change_func(&VoiceCall::onRemoteDescriptionReply, this, nullptr);
  g_signal_emit_by_name(webrtc_, "set-remote-description", description, promise);
}

VoiceCall::~VoiceCall() {
  if (!pipeline_) return;
  // Joins the streaming threads and webrtcbin's own; none calls back after this.
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  g_autoptr(GstBus) bus = gst_element_get_bus(pipeline_.get());
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  if (webrtc_ != nullptr) g_signal_handlers_disconnect_by_data(webrtc_, this);
}

std::string VoiceCall::connectionState() const {
  GstWebRTCPeerConnectionState state = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
  g_object_get(webrtc_, "connection-state", &state, nullptr);
  return connectionStateName(state);
}

std::optional<std::chrono::steady_clock::time_point> VoiceCall::lastMediaAt() const {
  const std::int64_t ticks = lastMediaAt_.load(std::memory_order_relaxed);
  if (ticks < 0) return std::nullopt;
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

VoiceCall::Outcome VoiceCall::remoteDescriptionSet(const std::optional<std::string>& error) {
  if (error) return Ended{"The offer was refused: " + *error, true};
  g_autoptr(GstPromise) promise = gst_promise_new_with_change_func(&VoiceCall::onAnswerReply, this, nullptr);
  g_signal_emit_by_name(webrtc_, "create-answer", nullptr, promise);
  return {};
}

VoiceCall::Outcome VoiceCall::answerCreated(const std::variant<std::string, Refusal>& answer) {
  if (const auto* refusal = std::get_if<Refusal>(&answer))
    return Ended{"No answer could be made: " + refusal->reason, true};
  GstSDPMessage* sdp = nullptr;
  gst_sdp_message_new_from_text(std::get<std::string>(answer).c_str(), &sdp);
  g_autoptr(GstWebRTCSessionDescription) description =
      gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, sdp);  // takes the message
  g_autoptr(GstPromise) promise =
      gst_promise_new_with_change_func(&VoiceCall::onLocalDescriptionReply, this, nullptr);
  g_signal_emit_by_name(webrtc_, "set-local-description", description, promise);
  return {};
}

VoiceCall::Outcome VoiceCall::localDescriptionSet(const std::optional<std::string>& error) {
  if (error) return Ended{"The answer was refused: " + *error};
  g_autoptr(GstPad) payloaderPad = gst_element_get_static_pad(payloader_, "src");
  if (gst_pad_link(payloaderPad, sendPad_.get()) != GST_PAD_LINK_OK)
    return Ended{"The voice peer's echo could not be linked."};
  localDescriptionSet_ = true;
  return answerIfGathered();
}

VoiceCall::Outcome VoiceCall::answerIfGathered() {
  if (!localDescriptionSet_ || answered_) return {};
  GstWebRTCICEGatheringState gathering = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
  g_object_get(webrtc_, "ice-gathering-state", &gathering, nullptr);
  if (gathering != GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE) return {};
  g_autoptr(GstWebRTCSessionDescription) local = nullptr;
  g_object_get(webrtc_, "local-description", &local, nullptr);
  if (local == nullptr) return Ended{"The answer went missing."};
  g_autofree gchar* text = gst_sdp_message_as_text(local->sdp);
  answered_ = true;
  return Answered{text};
}

VoiceCall::Outcome VoiceCall::connectionStateChanged() {
  GstWebRTCPeerConnectionState state = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
  g_object_get(webrtc_, "connection-state", &state, nullptr);
  if (state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED) return Ended{"ICE or DTLS failed."};
  if (state == GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED) return Ended{"The connection closed."};
  return {};
}

void VoiceCall::onPadAdded(GstElement* webrtc, GstPad* pad, gpointer self) {
  auto& call = *static_cast<VoiceCall*>(self);
  if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
  gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    &VoiceCall::onIncomingRtp, self, nullptr);
  if (!call.echoLinked_.exchange(true)) {
    g_autoptr(GstPad) echoPad = gst_element_get_static_pad(call.echoSink_, "sink");
    if (gst_pad_link(pad, echoPad) == GST_PAD_LINK_OK) return;
  }
  // Any further stream (the offer may carry more than the one audio track echoed) is
  // received and dropped.
  g_autoptr(GstObject) pipeline = gst_object_get_parent(GST_OBJECT(webrtc));
  GstElement* sink = addElement(GST_ELEMENT(pipeline), "fakesink");
  if (sink == nullptr) return;
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, sinkPad);
  gst_element_sync_state_with_parent(sink);
}

GstFlowReturn VoiceCall::onEchoSample(GstAppSink* sink, gpointer self) {
  g_autoptr(GstSample) sample = gst_app_sink_pull_sample(sink);
  GstBuffer* buffer = sample != nullptr ? gst_sample_get_buffer(sample) : nullptr;
  if (buffer != nullptr)
    gst_app_src_push_buffer(GST_APP_SRC(static_cast<VoiceCall*>(self)->echoSource_), gst_buffer_ref(buffer));
  return GST_FLOW_OK;
}

GstPadProbeReturn VoiceCall::onIncomingRtp(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
  auto& call = *static_cast<VoiceCall*>(self);
  std::uint64_t packets = 1;
  std::uint64_t bytes = 0;
  if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
    bytes = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
  } else {
    packets = gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    bytes = gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
  }
  call.packetsReceived_.fetch_add(packets, std::memory_order_relaxed);
  call.bytesReceived_.fetch_add(bytes, std::memory_order_relaxed);
  call.lastMediaAt_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                          std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

void VoiceCall::onGatheringStateChanged(GstElement* /*webrtc*/, GParamSpec* /*pspec*/, gpointer self) {
  platform::dispatch::runGuarded([self] {
    static_cast<VoiceCall*>(self)->post([](VoiceCall& call) { return call.answerIfGathered(); });
  });
}

void VoiceCall::onConnectionStateChanged(GstElement* /*webrtc*/, GParamSpec* /*pspec*/, gpointer self) {
  platform::dispatch::runGuarded([self] {
    static_cast<VoiceCall*>(self)->post([](VoiceCall& call) { return call.connectionStateChanged(); });
  });
}

GstBusSyncReply VoiceCall::onBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer self) {
  // Nobody reads the bus: every message is dropped here, errors after ending the call.
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    g_autoptr(GError) error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    platform::dispatch::runGuarded([self, &error] {
      const std::string reason = std::string("The call's pipeline failed: ") + error->message;
      static_cast<VoiceCall*>(self)->post([reason](VoiceCall&) -> Outcome { return Ended{reason}; });
    });
  }
  gst_message_unref(message);  // a handler that drops a message owns it
  return GST_BUS_DROP;
}

void VoiceCall::onRemoteDescriptionReply(GstPromise* promise, gpointer self) {
  platform::dispatch::runGuarded([promise, self] {
    static_cast<VoiceCall*>(self)->post(
        [error = promiseError(promise)](VoiceCall& call) { return call.remoteDescriptionSet(error); });
  });
}

void VoiceCall::onAnswerReply(GstPromise* promise, gpointer self) {
  platform::dispatch::runGuarded([promise, self] {
    // Handed over as text: the description belongs to this thread's promise.
    std::variant<std::string, Refusal> answer =
        Refusal{promiseError(promise).value_or("webrtcbin gave no answer")};
    g_autoptr(GstWebRTCSessionDescription) description = nullptr;
    if (const GstStructure* reply = gst_promise_get_reply(promise); reply != nullptr)
      gst_structure_get(reply, "answer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &description, nullptr);
    if (description != nullptr) {
      g_autofree gchar* text = gst_sdp_message_as_text(description->sdp);
      answer = std::string(text);
    }
    static_cast<VoiceCall*>(self)->post([answer](VoiceCall& call) { return call.answerCreated(answer); });
  });
}

void VoiceCall::onLocalDescriptionReply(GstPromise* promise, gpointer self) {
  platform::dispatch::runGuarded([promise, self] {
    static_cast<VoiceCall*>(self)->post(
        [error = promiseError(promise)](VoiceCall& call) { return call.localDescriptionSet(error); });
  });
}

}  // namespace demo
