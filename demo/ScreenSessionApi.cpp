// The demo service's screen-session REST API: what the broadcast extension opens and
// closes its screen sessions with. Handlers run on the server's threads.
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "demo/DemoService.h"
#include "demo/ScreenSessions.h"

namespace demo {

namespace {

void replyJson(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_content(body.dump(), "application/json");
}

void replyError(httplib::Response& response, int status, const std::string& message) {
  replyJson(response, status, {{"message", message}});
}

// The request's JSON object once the bearer token and "sessionId" check out; otherwise
// the error reply is already made and nothing is given.
std::optional<nlohmann::json> acceptedBody(const httplib::Request& request, httplib::Response& response,
                                           const DemoConfig& config) {
  if (request.get_header_value("Authorization") != "Bearer " + config.accessToken) {
    replyError(response, 401, "Invalid or missing access token.");
    return std::nullopt;
  }
  auto body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object()) {
    replyError(response, 400, "The request body must be a JSON object.");
    return std::nullopt;
  }
  auto sessionId = body.find("sessionId");
  if (sessionId == body.end() || !sessionId->is_string() ||
      sessionId->get_ref<const std::string&>().empty()) {
    replyError(response, 400, "\"sessionId\" must be a non-empty string.");
    return std::nullopt;
  }
  return body;
}

}  // namespace

void registerScreenSessionApi(httplib::Server& server, const DemoConfig& config, ScreenSessions& sessions) {
  server.Post(R"(/v1/api/voice/sfu/([^/]+)/screen-session)",
              [&config, &sessions](const httplib::Request& request, httplib::Response& response) {
                auto body = acceptedBody(request, response, config);
                if (!body) return;
                ScreenSession session =
                    sessions.open(request.matches[1], (*body)["sessionId"].get<std::string>());
                replyJson(response, 200, {{"screenSessionId", session.id}});
              });

  server.Post(R"(/v1/api/voice/sfu/([^/]+)/screen-session/close)",
              [&config, &sessions](const httplib::Request& request, httplib::Response& response) {
                auto body = acceptedBody(request, response, config);
                if (!body) return;
                std::optional<std::string> trackName;
                if (auto track = body->find("trackName"); track != body->end()) {
                  if (!track->is_string()) {
                    replyError(response, 400, "\"trackName\" must be a string.");
                    return;
                  }
                  trackName = track->get<std::string>();
                }
                const auto id = (*body)["sessionId"].get<std::string>();
                if (!sessions.close(request.matches[1], id, trackName)) {
                  replyError(response, 404, "No open screen session \"" + id + "\" in this channel.");
                  return;
                }
                replyJson(response, 200, nlohmann::json::object());
              });
}

}  // namespace demo
