// The real web view of the engine under test in a process of its own, so that a test can start "the app"
// again on the same data folders. Exits 0 once the page titles itself "done", 3 after 30 s.
//   sorn-webview-probe-<engine> URL   (the service is 127.0.0.1)
#include "platform/dispatch/MainLoopQueue.h"
#include SORN_ENGINE_HARNESS
#include "tests/app/RecordingServices.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  apptest::RecordingServices services;
  EngineHarness harness(argv[1], services.services(platform::dispatch::MainLoopQueue::shared()), "127.0.0.1");
  return testsupport::spinUntil([&] { return harness.title() == "done"; }) ? 0 : 3;
}
