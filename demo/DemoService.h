#pragma once

#include <string>

namespace httplib {
class Server;
}

namespace demo {

class ScreenSessions;
class VoicePeer;

// What the demo service hands the dashboard page and checks on the REST API.
struct DemoConfig {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string accessToken = "demo-token-7f3a";
  std::string channelId = "lounge";
  std::string sessionId = "voice-session-1";
};

// The dashboard page at /sorn/dashboard and what it needs to show the demo's state.
void registerDashboard(httplib::Server& server, const DemoConfig& config, const ScreenSessions& sessions);

// The screen-session REST API under /v1/api.
void registerScreenSessionApi(httplib::Server& server, const DemoConfig& config, ScreenSessions& sessions);

// The voice peer's endpoints: POST /demo/voice/offer, GET /demo/voice/peers and
// DELETE /demo/voice/peers/<id>.
void registerVoiceApi(httplib::Server& server, VoicePeer& peer);

}  // namespace demo
