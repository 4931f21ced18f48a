#pragma once

#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

#include <chrono>
#include <string>

#include "platform/gobject/ObjectRef.h"
#include "tests/support/Within.h"

namespace testsupport {

// A WebRTC caller of the test's own, as a browser calls the voice peer: Opus from a test
// tone (or none at all when silent), loopback ICE without trickle, and a sink for what
// comes back. Test thread.
class VoiceCaller {
 public:
  explicit VoiceCaller(bool silent = false) {
    gst_init(nullptr, nullptr);
    pipeline_ = platform::gobject::ObjectRef<GstElement>::retain(gst_parse_launch(
        (std::string("webrtcbin name=w bundle-policy=max-bundle audiotestsrc is-live=true num-buffers=") +
         (silent ? "0" : "-1") +
         " ! opusenc ! rtpopuspay pt=111 ! "
         "application/x-rtp,media=audio,encoding-name=OPUS,clock-rate=48000,payload=111,"
         "encoding-params=(string)2 ! w. w. ! fakesink name=back sync=false async=false")
            .c_str(),
        nullptr));
    webrtc_ =
        platform::gobject::ObjectRef<GstElement>::adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "w"));
    g_autoptr(GstWebRTCICE) ice = nullptr;
    g_object_get(webrtc_.get(), "ice-agent", &ice, nullptr);
    gboolean added = FALSE;
    g_signal_emit_by_name(ice, "add-local-ip-address", "127.0.0.1", &added);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  }
  ~VoiceCaller() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }
  VoiceCaller(const VoiceCaller&) = delete;
  VoiceCaller& operator=(const VoiceCaller&) = delete;

  // The offer with every local candidate in it; empty when webrtcbin made none.
  std::string offer() {
    g_autoptr(GstPromise) created = gst_promise_new();
    g_signal_emit_by_name(webrtc_.get(), "create-offer", nullptr, created);
    g_autoptr(GstWebRTCSessionDescription) offer = nullptr;
    if (gst_promise_wait(created) == GST_PROMISE_RESULT_REPLIED)
      gst_structure_get(gst_promise_get_reply(created), "offer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &offer,
                        nullptr);
    if (offer == nullptr) return {};
    g_signal_emit_by_name(webrtc_.get(), "set-local-description", offer, nullptr);
    within(std::chrono::seconds(10), [this] {
      GstWebRTCICEGatheringState state = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
      g_object_get(webrtc_.get(), "ice-gathering-state", &state, nullptr);
      return state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
    });
    g_autoptr(GstWebRTCSessionDescription) local = nullptr;
    g_object_get(webrtc_.get(), "local-description", &local, nullptr);
    g_autofree gchar* text = gst_sdp_message_as_text(local->sdp);
    return text;
  }

  void takeAnswer(const std::string& sdp) {
    GstSDPMessage* message = nullptr;
    gst_sdp_message_new_from_text(sdp.c_str(), &message);
    g_autoptr(GstWebRTCSessionDescription) answer =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, message);
    g_signal_emit_by_name(webrtc_.get(), "set-remote-description", answer, nullptr);
  }

  // Whether audio came back.
  bool heard() const {
    g_autoptr(GstElement) back = gst_bin_get_by_name(GST_BIN(pipeline_.get()), "back");
    g_autoptr(GstSample) sample = nullptr;
    g_object_get(back, "last-sample", &sample, nullptr);
    return sample != nullptr;
  }

 private:
  platform::gobject::ObjectRef<GstElement> pipeline_;
  platform::gobject::ObjectRef<GstElement> webrtc_;
};

}  // namespace testsupport
