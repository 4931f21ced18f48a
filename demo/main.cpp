// The demo service: plays the Sorn service on loopback for the demo and the tests.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "demo/DemoService.h"
#include "demo/PageActions.h"
#include "demo/ScreenSessions.h"
#include "demo/VoicePeer.h"

namespace {

httplib::Server* runningServer = nullptr;

void stopOnSignal(int /*signal*/) {
  if (runningServer != nullptr) runningServer->stop();
}

void printUsage() {
  std::puts(
      "usage: sorn-demo-service [--port N] [--host ADDRESS]\n"
      "  --port N        port to listen on (default 8765; 0 picks a free one)\n"
      "  --host ADDRESS  loopback address to listen on (default 127.0.0.1)");
}

}  // namespace

int main(int argc, char** argv) {
  demo::DemoConfig config;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      config.port = std::atoi(argv[++i]);
    } else if (arg == "--host" && i + 1 < argc) {
      config.host = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      printUsage();
      return 0;
    } else {
      std::fprintf(stderr, "sorn-demo-service: unknown argument '%s'\n", argv[i]);
      printUsage();
      return 2;
    }
  }

  // Made before the server and so gone after it: no handler waits on it any more then.
  demo::VoicePeer voicePeer;
  httplib::Server server;
  server.set_tcp_nodelay(true);
  demo::ScreenSessions sessions;
  demo::PageActions pageActions;
  demo::registerPageActions(server, pageActions);
  demo::registerDashboard(server, config, sessions);
  demo::registerScreenSessionApi(server, config, sessions);
  demo::registerVoiceApi(server, voicePeer);

  int port = config.port == 0 ? server.bind_to_any_port(config.host)
                              : (server.bind_to_port(config.host, config.port) ? config.port : -1);
  if (port < 0) {
    std::fprintf(stderr, "sorn-demo-service: cannot listen on %s:%d\n", config.host.c_str(), config.port);
    return 1;
  }
  runningServer = &server;
  std::signal(SIGINT, stopOnSignal);
  std::signal(SIGTERM, stopOnSignal);
  std::printf("sorn-demo-service: listening on http://%s:%d/sorn/dashboard\n", config.host.c_str(), port);
  std::fflush(stdout);
  server.listen_after_bind();
  return 0;
}
