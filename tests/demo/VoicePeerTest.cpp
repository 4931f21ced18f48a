// The demo service's voice peer, end to end: the real service on a free port, callers of
// the test's own (webrtcbin with an Opus test tone) over loopback, the HTTP endpoints as a
// browser uses them.
#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>

#include "platform/gobject/ObjectRef.h"
#include "tests/support/DemoService.h"
#include "tests/support/Within.h"

namespace testsupport {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

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
         "encoding-params=(string)2 ! w. w. ! fakesink sync=false async=false")
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
    within(10s, [this] {
      GstWebRTCICEGatheringState state = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
      g_object_get(webrtc_.get(), "ice-gathering-state", &state, nullptr);
      return state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
    });
    g_autoptr(GstWebRTCSessionDescription) local = nullptr;
    g_object_get(webrtc_.get(), "local-description", &local, nullptr);
    g_autofree gchar* text = gst_sdp_message_as_text(local->sdp);
    return text;
  }

  // Takes the answer that a reply to its offer holds, and gives the call's id.
  std::string takeAnswer(const httplib::Result& reply) {
    EXPECT_TRUE(reply && reply->status == 201) << (reply ? reply->body : "no reply");
    if (!reply || reply->status != 201) return {};
    const json answer = json::parse(reply->body);
    EXPECT_EQ(reply->get_header_value("Location"), "/demo/voice/peers/" + answer.value("id", ""));
    // No trickle: the answer holds the peer's loopback candidate. It names the SSRC of what
    // comes back, without which a caller may drop it.
    const std::string sdp = answer["sdp"];
    EXPECT_TRUE(answer["type"] == "answer" && sdp.find(" 127.0.0.1 ") != std::string::npos &&
                sdp.find("a=ssrc:") != std::string::npos)
        << sdp;
    GstSDPMessage* message = nullptr;
    gst_sdp_message_new_from_text(sdp.c_str(), &message);
    g_autoptr(GstWebRTCSessionDescription) description =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, message);
    g_signal_emit_by_name(webrtc_.get(), "set-remote-description", description, nullptr);
    return answer["id"];
  }

 private:
  platform::gobject::ObjectRef<GstElement> pipeline_;
  platform::gobject::ObjectRef<GstElement> webrtc_;
};

std::string offerBody(const std::string& sdp) { return json{{"type", "offer"}, {"sdp", sdp}}.dump(); }

// The entries of one of the service's /proc folders (fd, task), GStreamer's clock thread
// aside: the first call starts it for good.
std::size_t entries(const DemoService& service, const std::string& folder) {
  std::size_t count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(service.pid()) + folder)) {
    std::string name;
    count += !std::getline(std::ifstream(entry.path() / "comm"), name) || name != "GstSystemClock";
  }
  return count;
}

TEST(VoicePeer, AnswersUpToFourCallsHearsThemAndEndsThemLeavingNothingBehind) {
  DemoService service(SORN_DEMO_SERVICE);
  ASSERT_TRUE(service.peers().is_object());
  const std::size_t descriptors = entries(service, "/fd"), threads = entries(service, "/task");
  const auto post = [&](const std::string& body) {
    return service.request("POST", "/demo/voice/offer", body);
  };
  const auto ended = [&](const std::string& id) {
    const json peers = service.peers();
    for (const auto& call : peers["ended"])
      if (call["id"] == id) return call["reason"].get<std::string>();
    return std::string();
  };

  // Offers it cannot answer are refused with the reason, and it keeps answering.
  VoiceCaller silent(true);
  const std::string sdp = silent.offer();
  const auto changed = [&sdp](const char* pattern, const char* replacement) {
    return offerBody(std::regex_replace(sdp, std::regex(pattern, std::regex::icase), replacement));
  };
  for (const auto& [body, message] : std::vector<std::pair<std::string, std::string>>{
           {"this is not JSON", "The request body must be a JSON object."},
           {"{}", "\"sdp\" must be a non-empty string."},
           {R"({"sdp": 42})", "\"sdp\" must be a non-empty string."},
           {R"({"sdp": ""})", "\"sdp\" must be a non-empty string."},
           {json{{"type", "answer"}, {"sdp", sdp}}.dump(), "\"type\" must be \"offer\" when given."},
           {R"({"sdp": "v=0\r\n\u0001\u0002\u00ff garbage\r\n"})",
            "The offer is not an SDP session description."},
           {changed("m=audio", "m=video"), "The offer has no audio."},
           {changed("opus/48000", "PCMU/8000"), "The offer's audio has no Opus at 48 kHz."},
           {changed("UDP/TLS/RTP/SAVPF", "RTP/AVP"),
            "The offer's audio is not DTLS-SRTP (UDP/TLS/RTP/SAVPF)."},
           {changed("a=ice-ufrag:[^\r]*\r\n", ""), "The offer has no ICE credentials."},
           {changed("a=fingerprint:[^\r]*\r\n", ""), "The offer has no DTLS fingerprint."},
           {changed("a=group:BUNDLE [^\r]*", "a=group:BUNDLE nosuchmid"), "The offer was refused: "}}) {
    auto reply = post(body);
    EXPECT_TRUE(reply && reply->status == 400 &&
                json::parse(reply->body)["message"].get<std::string>().rfind(message, 0) == 0)
        << message;
  }
  const std::string silentId = silent.takeAnswer(post(offerBody(sdp)));

  // Four offers at once, with the silent call up: three calls and one refusal.
  std::array<VoiceCaller, 4> callers;
  std::vector<std::string> offers;
  for (auto& caller : callers) offers.push_back(offerBody(caller.offer()));
  std::vector<std::future<httplib::Result>> replies;
  for (const auto& body : offers) replies.push_back(std::async(std::launch::async, post, body));
  std::vector<std::string> ids;
  VoiceCaller* refused = nullptr;
  for (std::size_t i = 0; i < callers.size(); ++i) {
    auto reply = replies[i].get();
    if (reply && reply->status == 429) {
      EXPECT_EQ(json::parse(reply->body)["message"],
                "The voice peer takes at most 4 calls at once; hang up one first.");
      refused = &callers[i];
    } else {
      ids.push_back(callers[i].takeAnswer(reply));
    }
  }
  ASSERT_NE(refused, nullptr);
  // The peer hears each caller (that it echoes them the engine test shows); the silent
  // call ends after ten seconds, which makes room.
  EXPECT_TRUE(within(10s, [&] {
    const json peers = service.peers()["peers"];
    return std::count_if(peers.begin(), peers.end(), [](auto& p) { return p["bytesReceived"] > 0; }) == 3;
  }));
  EXPECT_TRUE(
      within(20s, [&] { return ended(silentId) == "No audio came from the caller for 10 seconds."; }));
  ids.push_back(refused->takeAnswer(post(offerBody(refused->offer()))));

  for (const auto& id : ids) EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + id)->status, 204);
  EXPECT_EQ(ended(ids[0]), "The caller hung up.");
  EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + ids[0])->status, 404);
  EXPECT_EQ(service.peers()["peers"], json::array());
  // The count before may hold the connection of the request before it.
  EXPECT_TRUE(within(20s, [&] { return entries(service, "/fd") <= descriptors; })) << entries(service, "/fd");
  EXPECT_TRUE(within(20s, [&] { return entries(service, "/task") == threads; })) << entries(service, "/task");

  // Stopping with a call up is a clean exit.
  VoiceCaller last;
  ASSERT_FALSE(last.takeAnswer(post(offerBody(last.offer()))).empty());
  EXPECT_EQ(service.stop(), 0);
}

TEST(VoicePeer, WithoutWebRtcTheVoiceEndpointsAnswer503AndTheRestWorks) {
  // No plugin folders, and a registry that cannot be kept.
  for (const char* variable : {"GST_PLUGIN_SYSTEM_PATH_1_0", "GST_PLUGIN_PATH_1_0", "GST_REGISTRY_1_0"})
    setenv(variable, "/nonexistent/sorn-test", 1);
  DemoService service(SORN_DEMO_SERVICE);
  const std::pair<std::string, std::string> endpoints[] = {
      {"POST", "/demo/voice/offer"}, {"GET", "/demo/voice/peers"}, {"DELETE", "/demo/voice/peers/voice-1"}};
  for (const auto& [method, path] : endpoints) {
    auto reply = service.request(method, path, offerBody("v=0\r\n"));
    EXPECT_TRUE(reply && reply->status == 503 &&
                json::parse(reply->body)["message"] ==
                    "Voice is not available: the GStreamer element \"webrtcbin\" is missing.")
        << path;
  }
  EXPECT_EQ(service.request("GET", "/sorn/dashboard")->status, 200);
  EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace testsupport
