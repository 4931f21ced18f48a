#pragma once

#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/gobject/ObjectRef.h"
#include "tests/support/Within.h"

namespace testsupport {

// A WebRTC caller of the test's own, as a browser calls the voice peer: Opus from a test
// tone (or nothing, when it only listens), loopback ICE without trickle, and a count of
// the RTP bytes that come back. Driven from the test's thread; webrtcbin's threads only
// count.
class VoiceCaller {
 public:
  explicit VoiceCaller(bool sendsTone = true) {
    gst_init(nullptr, nullptr);
    pipeline_ = platform::gobject::ObjectRef<GstElement>::retain(gst_pipeline_new(nullptr));
    gst_bin_add(
        GST_BIN(pipeline_.get()),
        gst_parse_bin_from_description(sendsTone ? "webrtcbin name=w bundle-policy=max-bundle audiotestsrc "
                                                   "is-live=true ! opusenc ! rtpopuspay pt=111 ! w."
                                                 : "webrtcbin name=w bundle-policy=max-bundle",
                                       FALSE, nullptr));
    webrtc_ = gst_bin_get_by_name(GST_BIN(pipeline_.get()), "w");
    g_autoptr(GstWebRTCICE) ice = nullptr;
    g_object_get(webrtc_, "ice-agent", &ice, nullptr);
    gboolean added = FALSE;
    g_signal_emit_by_name(ice, "add-local-ip-address", "127.0.0.1", &added);
    g_object_set(ice, "ice-tcp", FALSE, nullptr);
    g_autoptr(GstCaps) opus = gst_caps_from_string(
        "application/"
        "x-rtp,media=audio,encoding-name=OPUS,clock-rate=48000,payload=111,encoding-params=(string)2");
    g_autoptr(GstWebRTCRTPTransceiver) transceiver = nullptr;
    if (sendsTone) {
      g_autoptr(GstPad) tone = gst_element_get_static_pad(webrtc_, "sink_0");
      g_object_get(tone, "transceiver", &transceiver, nullptr);
      g_object_set(transceiver, "codec-preferences", opus, nullptr);
    } else {
      g_signal_emit_by_name(webrtc_, "add-transceiver", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_RECVONLY, opus,
                            &transceiver);
    }
    g_signal_connect(webrtc_, "pad-added", G_CALLBACK(&VoiceCaller::onPadAdded), this);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  }
  ~VoiceCaller() {
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    gst_object_unref(webrtc_);
  }
  VoiceCaller(const VoiceCaller&) = delete;
  VoiceCaller& operator=(const VoiceCaller&) = delete;

  // The offer with every local candidate in it, or nothing when webrtcbin made none.
  std::optional<std::string> offer() {
    g_autoptr(GstPromise) created = gst_promise_new();
    g_signal_emit_by_name(webrtc_, "create-offer", nullptr, created);
    g_autoptr(GstWebRTCSessionDescription) offer = nullptr;
    if (gst_promise_wait(created) == GST_PROMISE_RESULT_REPLIED)
      gst_structure_get(gst_promise_get_reply(created), "offer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &offer,
                        nullptr);
    if (offer == nullptr) return std::nullopt;
    g_signal_emit_by_name(webrtc_, "set-local-description", offer, nullptr);
    if (!within(std::chrono::seconds(10), [this] {
          GstWebRTCICEGatheringState state = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
          g_object_get(webrtc_, "ice-gathering-state", &state, nullptr);
          return state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
        }))
      return std::nullopt;
    g_autoptr(GstWebRTCSessionDescription) local = nullptr;
    g_object_get(webrtc_, "local-description", &local, nullptr);
    g_autofree gchar* text = gst_sdp_message_as_text(local->sdp);
    return std::string(text);
  }

  // Whether webrtcbin took the answer.
  bool takeAnswer(const std::string& sdp) {
    GstSDPMessage* message = nullptr;
    if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK) return false;
    g_autoptr(GstWebRTCSessionDescription) answer =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, message);
    g_autoptr(GstPromise) set = gst_promise_new();
    g_signal_emit_by_name(webrtc_, "set-remote-description", answer, set);
    return gst_promise_wait(set) == GST_PROMISE_RESULT_REPLIED &&
           (gst_promise_get_reply(set) == nullptr ||
            !gst_structure_has_field(gst_promise_get_reply(set), "error"));
  }

  std::uint64_t bytesReceived() const { return bytesReceived_.load(); }

 private:
  // Counts what comes back, into a sink.
  static void onPadAdded(GstElement* webrtc, GstPad* pad, gpointer self) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        +[](GstPad*, GstPadProbeInfo* info, gpointer caller) {
          static_cast<VoiceCaller*>(caller)->bytesReceived_ +=
              gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
          return GST_PAD_PROBE_OK;
        },
        self, nullptr);
    g_autoptr(GstObject) pipeline = gst_object_get_parent(GST_OBJECT(webrtc));
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_element_sync_state_with_parent(sink);
  }

  platform::gobject::ObjectRef<GstElement> pipeline_;
  GstElement* webrtc_ = nullptr;  // a reference of its own
  std::atomic<std::uint64_t> bytesReceived_{0};
};

}  // namespace testsupport
