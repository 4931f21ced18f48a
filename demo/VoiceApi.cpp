// The demo service's voice endpoints, in front of its voice peer: a caller posts its
// offer and gets the answer, lists the calls, and hangs up. Handlers run on the server's
// threads and wait for the peer's.
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "demo/DemoService.h"
#include "demo/VoicePeer.h"

namespace demo {

namespace {

void replyJson(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(body.dump(), "application/json");
}

int statusFor(VoiceRefusal::Kind refusal) {
  switch (refusal) {
    case VoiceRefusal::Kind::unavailable:
      return 503;
    case VoiceRefusal::Kind::busy:
      return 429;
    case VoiceRefusal::Kind::badOffer:
      return 400;
    case VoiceRefusal::Kind::unknownCall:
      return 404;
    case VoiceRefusal::Kind::failed:
      return 500;
  }
  return 500;
}

void replyRefusal(httplib::Response& response, const VoiceRefusal& refusal) {
  replyJson(response, statusFor(refusal.kind), {{"message", refusal.message}});
}

// The offer's SDP from a body {"sdp": "...", "type": "offer"} ("type" may be left out);
// otherwise the 400 reply is already made.
std::optional<std::string> offeredSdp(const httplib::Request& request, httplib::Response& response) {
  const auto body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  std::string problem;
  if (!body.is_object()) {
    problem = "The request body must be a JSON object.";
  } else if (auto sdp = body.find("sdp");
             sdp == body.end() || !sdp->is_string() || sdp->get_ref<const std::string&>().empty()) {
    problem = R"("sdp" must be a non-empty string.)";
  } else if (auto type = body.find("type"); type != body.end() && *type != "offer") {
    problem = R"("type" must be "offer" when given.)";
  } else {
    return sdp->get<std::string>();
  }
  replyJson(response, 400, {{"message", problem}});
  return std::nullopt;
}

}  // namespace

void registerVoiceApi(httplib::Server& server, VoicePeer& peer) {
  server.Post("/demo/voice/offer", [&peer](const httplib::Request& request, httplib::Response& response) {
    auto sdp = offeredSdp(request, response);
    if (!sdp) return;
    auto reply = peer.answer(*sdp);
    if (const auto* refusal = std::get_if<VoiceRefusal>(&reply)) return replyRefusal(response, *refusal);
    const auto& answer = std::get<VoiceAnswer>(reply);
    response.set_header("Location", "/demo/voice/peers/" + answer.id);
    replyJson(response, 201, {{"id", answer.id}, {"type", "answer"}, {"sdp", answer.sdp}});
  });

  server.Get("/demo/voice/peers", [&peer](const httplib::Request&, httplib::Response& response) {
    auto reply = peer.state();
    if (const auto* refusal = std::get_if<VoiceRefusal>(&reply)) return replyRefusal(response, *refusal);
    const auto& state = std::get<VoicePeerState>(reply);
    nlohmann::json calls = nlohmann::json::array();
    for (const VoiceCallStatus& call : state.calls) {
      calls.push_back({{"id", call.id},
                       {"state", call.state},
                       {"packetsReceived", call.packetsReceived},
                       {"bytesReceived", call.bytesReceived},
                       {"secondsSinceOffer", call.secondsSinceOffer}});
    }
    nlohmann::json ended = nlohmann::json::array();
    for (const EndedVoiceCall& call : state.ended)
      ended.push_back({{"id", call.id}, {"reason", call.reason}});
    replyJson(response, 200, {{"peers", calls}, {"ended", ended}, {"maxPeers", VoicePeer::kMaxCalls}});
  });

  server.Delete(R"(/demo/voice/peers/([^/]+))",
                [&peer](const httplib::Request& request, httplib::Response& response) {
                  if (auto refusal = peer.hangUp(request.matches[1])) return replyRefusal(response, *refusal);
                  response.status = 204;
                });
}

}  // namespace demo
