#include <httplib.h>

#include "demo/DemoService.h"

namespace demo {

// Placeholder page until the dashboard lands.
void registerDashboard(httplib::Server& server, const DemoConfig& /*config*/, const ScreenSessions& /*sessions*/) {
  server.Get("/sorn/dashboard", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<!doctype html><title>Sorn</title><p id=marker></p>", "text/html");
  });
}

}  // namespace demo
