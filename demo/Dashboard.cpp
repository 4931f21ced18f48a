#include <httplib.h>

#include <nlohmann/json.hpp>

#include "demo/DashboardPage.h"
#include "demo/DemoService.h"
#include "demo/ScreenSessions.h"

namespace demo {

// The dashboard page, and /demo/state: the credentials the page offers to post and the
// screen sessions the REST API handed out, which the page polls.
void registerDashboard(httplib::Server& server, const DemoConfig& config, const ScreenSessions& sessions) {
  server.Get("/sorn/dashboard", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(kDashboardPage, "text/html; charset=utf-8");
  });
  server.Get("/demo/state", [&config, &sessions](const httplib::Request&, httplib::Response& response) {
    nlohmann::json screenSessions = nlohmann::json::array();
    for (const ScreenSession& session : sessions.all()) {
      screenSessions.push_back({{"id", session.id},
                                {"channelId", session.channelId},
                                {"primarySessionId", session.primarySessionId},
                                {"trackName", session.trackName},
                                {"open", session.open}});
    }
    const nlohmann::json state = {{"config",
                                   {{"accessToken", config.accessToken},
                                    {"channelId", config.channelId},
                                    {"sessionId", config.sessionId}}},
                                  {"screenSessions", screenSessions}};
    response.set_header("Cache-Control", "no-store");
    response.set_content(state.dump(), "application/json");
  });
}

}  // namespace demo
