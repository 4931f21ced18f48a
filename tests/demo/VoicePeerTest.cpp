// The demo service's voice peer, end to end: the real service on a free port, callers of
// the test's own (webrtcbin with an Opus test tone) over loopback, the HTTP endpoints as a
// browser uses them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
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

class VoicePeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(service.port(), 0);
    ASSERT_TRUE(service.peers().is_object());  // the peer is up
    descriptors = service.openDescriptors();
    threads = service.threads();
  }
  void TearDown() override { EXPECT_EQ(service.stop(), 0); }

  // The id of the call that a reply to an offer made, once the caller took the answer;
  // empty when there is none.
  static std::string answered(VoiceCaller& caller, const httplib::Result& reply) {
    EXPECT_TRUE(reply && reply->status == 201) << (reply ? reply->body : "no reply");
    if (!reply || reply->status != 201) return {};
    const json answer = json::parse(reply->body);
    const std::string id = answer["id"];
    const std::string sdp = answer["sdp"];
    EXPECT_EQ(answer["type"], "answer");
    EXPECT_EQ(reply->get_header_value("Location"), "/demo/voice/peers/" + id);
    // No trickle: the answer holds the peer's loopback candidate. It names the SSRC of
    // what comes back, without which the caller may drop it.
    EXPECT_NE(sdp.find(" 127.0.0.1 "), std::string::npos) << sdp;
    EXPECT_NE(sdp.find("a=ssrc:"), std::string::npos) << sdp;
    EXPECT_TRUE(caller.takeAnswer(sdp));
    return id;
  }
  std::string call(VoiceCaller& caller) {
    auto offer = caller.offer();
    EXPECT_TRUE(offer);
    return offer ? answered(caller, service.request("POST", "/demo/voice/offer", offerBody(*offer))) : "";
  }
  std::string stateOf(const std::string& id) const {
    const json listed = service.peers();
    for (const auto& peer : listed["peers"])
      if (peer["id"] == id) return peer["state"];
    return "gone";
  }
  // Every call ended: none of their descriptors or threads is left in the service. The
  // count before may hold the connection of the request before it.
  void expectNothingLeftBehind() const {
    EXPECT_EQ(service.peers()["peers"], json::array());
    EXPECT_TRUE(within(20s, [&] { return service.openDescriptors() <= descriptors; }))
        << service.openDescriptors() << " descriptors open, " << descriptors << " before the calls";
    EXPECT_TRUE(within(20s, [&] { return service.threads() == threads; }))
        << service.threads() << " threads, " << threads << " before the calls";
  }

  DemoService service{SORN_DEMO_SERVICE};
  std::size_t descriptors = 0;
  std::size_t threads = 0;
};

TEST_F(VoicePeerTest, SendsTheCallersAudioBackUntilTheCallerHangsUp) {
  VoiceCaller caller;
  const std::string id = call(caller);
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(within(10s, [&] { return caller.bytesReceived() > 2000; })) << caller.bytesReceived();
  EXPECT_EQ(stateOf(id), "connected");
  EXPECT_GT(service.peers()["peers"][0]["bytesReceived"], 2000);

  auto hungUp = service.request("DELETE", "/demo/voice/peers/" + id);
  ASSERT_TRUE(hungUp);
  EXPECT_EQ(hungUp->status, 204);
  EXPECT_EQ(service.peers()["ended"][0], (json{{"id", id}, {"reason", "The caller hung up."}}));
  auto again = service.request("DELETE", "/demo/voice/peers/" + id);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 404);
  expectNothingLeftBehind();
}

TEST_F(VoicePeerTest, RefusesMalformedOffersAndKeepsAnswering) {
  VoiceCaller caller;
  const std::string offer = caller.offer().value_or("");
  ASSERT_FALSE(offer.empty());
  auto changed = [&offer](const char* pattern, const char* replacement) {
    return offerBody(std::regex_replace(offer, std::regex(pattern, std::regex::icase), replacement));
  };
  const struct {
    std::string body;
    const char* message;
  } cases[] = {
      {"this is not JSON", "The request body must be a JSON object."},
      {"[]", "The request body must be a JSON object."},
      {"{}", "\"sdp\" must be a non-empty string."},
      {R"({"sdp": 42})", "\"sdp\" must be a non-empty string."},
      {R"({"sdp": ""})", "\"sdp\" must be a non-empty string."},
      {json{{"type", "answer"}, {"sdp", offer}}.dump(), "\"type\" must be \"offer\" when given."},
      {offerBody("hello"), "The offer is not an SDP session description."},
      {R"({"sdp": "v=0\r\n\u0001\u0002\u00ff garbage\r\n"})", "The offer is not an SDP session description."},
      {changed("m=audio", "m=video"), "The offer has no audio."},
      {changed("opus/48000", "PCMU/8000"), "The offer's audio has no Opus at 48 kHz."},
      {changed("UDP/TLS/RTP/SAVPF", "RTP/AVP"), "The offer's audio is not DTLS-SRTP (UDP/TLS/RTP/SAVPF)."},
      {changed("a=ice-ufrag:[^\r]*\r\n", ""), "The offer has no ICE credentials."},
      {changed("a=fingerprint:[^\r]*\r\n", ""), "The offer has no DTLS fingerprint."},
      {changed("a=group:BUNDLE [^\r]*", "a=group:BUNDLE nosuchmid"), "The offer was refused: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    auto reply = service.request("POST", "/demo/voice/offer", c.body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_EQ(json::parse(reply->body)["message"].get<std::string>().rfind(c.message, 0), 0u) << reply->body;
  }
  // The service still answers, a well-formed offer too.
  auto answered = service.request("POST", "/demo/voice/offer", offerBody(offer));
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 201) << answered->body;
  EXPECT_TRUE(
      service.request("DELETE", "/demo/voice/peers/" + json::parse(answered->body)["id"].get<std::string>()));
  expectNothingLeftBehind();
}

TEST_F(VoicePeerTest, TakesAtMostFourCallsAtOnce) {
  std::vector<std::unique_ptr<VoiceCaller>> callers;
  std::vector<std::future<httplib::Result>> replies;
  for (int i = 0; i < 5; ++i) {
    callers.push_back(std::make_unique<VoiceCaller>());
    const std::string offer = callers.back()->offer().value_or("");
    replies.push_back(std::async(std::launch::async, [this, offer] {
      return service.request("POST", "/demo/voice/offer", offerBody(offer));
    }));
  }
  std::vector<std::string> ids;
  std::vector<VoiceCaller*> answeredCallers;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    auto reply = replies[i].get();
    ASSERT_TRUE(reply);
    if (reply->status == 429) {
      EXPECT_EQ(json::parse(reply->body)["message"],
                "The voice peer takes at most 4 calls at once; hang up one first.");
      continue;
    }
    ids.push_back(answered(*callers[i], reply));
    answeredCallers.push_back(callers[i].get());
  }
  ASSERT_EQ(ids.size(), 4u);
  EXPECT_TRUE(within(10s, [&] {
    return std::all_of(answeredCallers.begin(), answeredCallers.end(),
                       [](VoiceCaller* caller) { return caller->bytesReceived() > 0; });
  }));
  EXPECT_EQ(service.peers()["peers"].size(), 4u);

  // A call that ends makes room for another.
  EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + ids.back())->status, 204);
  ids.pop_back();
  VoiceCaller another;
  ids.push_back(call(another));
  EXPECT_TRUE(within(10s, [&] { return another.bytesReceived() > 0; }));
  for (const auto& id : ids) EXPECT_EQ(service.request("DELETE", "/demo/voice/peers/" + id)->status, 204);
  expectNothingLeftBehind();
}

TEST_F(VoicePeerTest, EndsACallWhenTheCallerSendsNoAudio) {
  VoiceCaller listener(VoiceCaller::Sends::nothing);
  const std::string id = call(listener);
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(within(10s, [&] { return stateOf(id) == "connected"; })) << stateOf(id);
  EXPECT_TRUE(within(15s, [&] { return stateOf(id) == "gone"; }));
  EXPECT_EQ(service.peers()["ended"][0],
            (json{{"id", id}, {"reason", "No audio came from the caller for 10 seconds."}}));
  expectNothingLeftBehind();
}

TEST_F(VoicePeerTest, StopsWhileACallIsUp) {
  VoiceCaller caller;
  ASSERT_FALSE(call(caller).empty());
  EXPECT_TRUE(within(10s, [&] { return caller.bytesReceived() > 0; }));
  // TearDown stops the service and expects it to exit cleanly.
}

TEST(VoicePeerWithoutWebRtc, VoiceEndpointsAnswer503AndTheRestWorks) {
  const auto noPlugins =
      std::filesystem::temp_directory_path() / ("sorn-no-plugins-" + std::to_string(getpid()));
  std::filesystem::create_directories(noPlugins);
  DemoService service(SORN_DEMO_SERVICE, {"GST_PLUGIN_SYSTEM_PATH_1_0=" + noPlugins.string(),
                                          "GST_PLUGIN_PATH_1_0=" + noPlugins.string(),
                                          "GST_REGISTRY_1_0=" + (noPlugins / "registry.bin").string()});
  ASSERT_GT(service.port(), 0);
  const std::pair<std::string, std::string> requests[] = {
      {"POST", "/demo/voice/offer"}, {"GET", "/demo/voice/peers"}, {"DELETE", "/demo/voice/peers/voice-1"}};
  for (const auto& [method, path] : requests) {
    SCOPED_TRACE(method + " " + path);
    auto reply = service.request(method, path, offerBody("v=0\r\n"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    EXPECT_EQ(json::parse(reply->body)["message"],
              "Voice is not available: the GStreamer element \"webrtcbin\" is missing.");
  }
  EXPECT_EQ(service.request("GET", "/sorn/dashboard")->status, 200);
  EXPECT_EQ(service.stop(), 0);
  std::filesystem::remove_all(noPlugins);
}

}  // namespace
