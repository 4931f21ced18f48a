// The demo service's voice peer, end to end: the real service on a free port, callers of
// the test's own (webrtcbin with an Opus test tone) over loopback, the HTTP endpoints as a
// browser uses them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/demo/VoiceCaller.h"
#include "tests/support/DemoService.h"
#include "tests/support/Within.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testsupport::DemoService;
using testsupport::VoiceCaller;
using testsupport::within;

std::string offerBody(const std::string& sdp) { return json{{"type", "offer"}, {"sdp", sdp}}.dump(); }

// The entries of one of the service's /proc folders (fd, task), GStreamer's clock thread
// aside: the first call starts it for good.
std::size_t entries(const DemoService& service, const std::string& folder) {
  std::size_t count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(service.pid()) + folder)) {
    std::string name;
    std::getline(std::ifstream(entry.path() / "comm"), name);
    count += name != "GstSystemClock";
  }
  return count;
}

// The id of the call that a reply to an offer made, once the caller took the answer.
std::string answered(VoiceCaller& caller, const httplib::Result& reply) {
  EXPECT_TRUE(reply && reply->status == 201) << (reply ? reply->body : "no reply");
  if (!reply || reply->status != 201) return {};
  const json answer = json::parse(reply->body);
  EXPECT_EQ(answer["type"], "answer");
  EXPECT_EQ(reply->get_header_value("Location"), "/demo/voice/peers/" + answer["id"].get<std::string>());
  // No trickle: the answer holds the peer's loopback candidate. It names the SSRC of what
  // comes back, without which the caller may drop it.
  const std::string sdp = answer["sdp"];
  EXPECT_NE(sdp.find(" 127.0.0.1 "), std::string::npos) << sdp;
  EXPECT_NE(sdp.find("a=ssrc:"), std::string::npos) << sdp;
  EXPECT_TRUE(caller.takeAnswer(sdp));
  return answer["id"];
}

TEST(VoicePeer, AnswersUpToFourCallsEchoesTheirAudioAndEndsThemLeavingNothingBehind) {
  DemoService service(SORN_DEMO_SERVICE);
  ASSERT_TRUE(service.peers().is_object());
  const std::size_t descriptors = entries(service, "/fd"), threads = entries(service, "/task");
  const auto offer = [&](VoiceCaller& caller) {
    return service.request("POST", "/demo/voice/offer", offerBody(caller.offer().value_or("")));
  };
  const auto ended = [&](const std::string& id) {
    const json peers = service.peers();
    for (const auto& call : peers["ended"])
      if (call["id"] == id) return call["reason"].get<std::string>();
    return std::string();
  };

  // Offers it cannot answer are refused with the reason, and it keeps answering.
  VoiceCaller listener(false);  // sends nothing
  const std::string sdp = listener.offer().value_or("");
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
    auto reply = service.request("POST", "/demo/voice/offer", body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_EQ(json::parse(reply->body)["message"].get<std::string>().rfind(message, 0), 0u) << reply->body;
  }
  const std::string silent = answered(listener, service.request("POST", "/demo/voice/offer", offerBody(sdp)));

  // Four offers at once, with the silent call up: three calls and one refusal.
  std::vector<std::unique_ptr<VoiceCaller>> callers;
  std::vector<std::future<httplib::Result>> replies;
  for (int i = 0; i < 4; ++i) {
    callers.push_back(std::make_unique<VoiceCaller>());
    replies.push_back(std::async(std::launch::async, offer, std::ref(*callers.back())));
  }
  std::vector<std::string> ids;
  VoiceCaller* refused = nullptr;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    auto reply = replies[i].get();
    if (reply && reply->status == 429) {
      EXPECT_EQ(json::parse(reply->body)["message"],
                "The voice peer takes at most 4 calls at once; hang up one first.");
      refused = callers[i].get();
    } else {
      ids.push_back(answered(*callers[i], reply));
    }
  }
  ASSERT_NE(refused, nullptr);
  // Each caller hears itself; the silent call ends after ten seconds, which makes room.
  EXPECT_TRUE(within(10s, [&] {
    return std::all_of(callers.begin(), callers.end(),
                       [&](auto& c) { return c.get() == refused || c->bytesReceived() > 0; });
  }));
  EXPECT_GT(service.peers()["peers"][1]["bytesReceived"], 0);
  EXPECT_TRUE(within(20s, [&] { return !ended(silent).empty(); }));
  EXPECT_EQ(ended(silent), "No audio came from the caller for 10 seconds.");
  ids.push_back(answered(*refused, offer(*refused)));

  for (const auto& id : ids) EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + id)->status, 204);
  EXPECT_EQ(ended(ids[0]), "The caller hung up.");
  EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + ids[0])->status, 404);
  EXPECT_EQ(service.peers()["peers"], json::array());
  // The count before may hold the connection of the request before it.
  EXPECT_TRUE(within(20s, [&] { return entries(service, "/fd") <= descriptors; })) << entries(service, "/fd");
  EXPECT_TRUE(within(20s, [&] { return entries(service, "/task") == threads; })) << entries(service, "/task");

  // Stopping with a call up is a clean exit.
  VoiceCaller last;
  ASSERT_FALSE(answered(last, offer(last)).empty());
  EXPECT_EQ(service.stop(), 0);
}

TEST(VoicePeer, WithoutWebRtcTheVoiceEndpointsAnswer503AndTheRestWorks) {
  const auto noPlugins =
      std::filesystem::temp_directory_path() / ("sorn-no-plugins-" + std::to_string(getpid()));
  std::filesystem::create_directories(noPlugins);
  for (const char* variable : {"GST_PLUGIN_SYSTEM_PATH_1_0", "GST_PLUGIN_PATH_1_0"})
    setenv(variable, noPlugins.c_str(), 1);
  setenv("GST_REGISTRY_1_0", (noPlugins / "registry.bin").c_str(), 1);
  DemoService service(SORN_DEMO_SERVICE);
  for (const auto& [method, path] :
       std::vector<std::pair<std::string, std::string>>{{"POST", "/demo/voice/offer"},
                                                        {"GET", "/demo/voice/peers"},
                                                        {"DELETE", "/demo/voice/peers/voice-1"}}) {
    auto reply = service.request(method, path, offerBody("v=0\r\n"));
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, 503);
    EXPECT_EQ(json::parse(reply->body)["message"],
              "Voice is not available: the GStreamer element \"webrtcbin\" is missing.");
  }
  EXPECT_EQ(service.request("GET", "/sorn/dashboard")->status, 200);
  EXPECT_EQ(service.stop(), 0);
  std::filesystem::remove_all(noPlugins);
}

}  // namespace
