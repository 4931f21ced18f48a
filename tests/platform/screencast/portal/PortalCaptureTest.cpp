// The extension host capturing through the real desktop portal: the rig's PipeWire stream
// reaches the handler, the restore token spares the second prompt, a refused token asks
// again, and cancelling or the desktop closing the session end the broadcast.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/screencast/extension/ExtensionHost.h"
#include "tests/platform/screencast/portal/PortalRig.h"

namespace platform::screencast {
namespace {

// Counts the frames; asks the host to stop, as the indicator's Stop does, after `stopAfter`.
class CountingHandler final : public BroadcastSampleHandler {
 public:
  explicit CountingHandler(int stopAfter) : stopAfter_(stopAfter) {}
  void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& /*setupInfo*/) override {}
  void processSampleBuffer(const SampleBuffer& sample, SampleBufferType /*type*/) override {
    if (sample.imageBuffer() && ++samples == stopAfter_) kill(getpid(), SIGTERM);
  }
  void broadcastFinished() override { finished = true; }

  std::atomic<int> samples{0};
  std::atomic<bool> finished{false};

 private:
  const int stopAfter_;
};

TEST(PortalCapture, StreamsFramesKeepsItsGrantAndEndsOnCancelOrWhenTheDesktopCloses) {
  testsupport::PortalRig rig;
  if (!rig.missingPrograms().empty()) GTEST_SKIP() << "missing: " << rig.missingPrograms().front();
  for (const std::string& entry : rig.environment()) {
    const auto equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  const auto state =
      std::filesystem::temp_directory_path() / ("sorn-portal-state-" + std::to_string(getpid()));
  setenv("XDG_STATE_HOME", state.c_str(), 1);

  struct Case {
    const char* name;
    testsupport::PortalRig::Behaviour behaviour;
    int stopAfter;  // 0: the broadcast ends without a Stop
    int status;
    const char* error;
    unsigned prompts;  // how often the desktop asked the user, all cases so far (a failed start
                       // drops the grant it was made with)
  };
  const Case cases[] = {
      {"first share", {false, 0, ""}, 5, 0, "", 1},
      {"second share, the grant kept", {false, 0, ""}, 5, 0, "", 1},
      {"the grant refused", {false, 0, "*"}, 5, 0, "", 2},
      {"cancelled", {true, 0, ""}, 0, 1, "Screen sharing was cancelled.", 2},
      {"closed by the desktop", {false, 2, ""}, 0, 0, "", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.setBehaviour(c.behaviour);
    const auto handler = std::make_shared<CountingHandler>(c.stopAfter);
    testing::internal::CaptureStderr();
    ExtensionHostOptions options;
    options.captureThroughPortal = true;
    options.showIndicator = false;
    EXPECT_EQ(runBroadcastExtension(handler, options), c.status);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(c.error), std::string::npos) << errors;
    EXPECT_EQ(rig.stats().prompts, c.prompts);
    EXPECT_TRUE(handler->finished);
    if (c.stopAfter > 0) {
      EXPECT_GE(handler->samples.load(), c.stopAfter);
    }
  }
  std::filesystem::remove_all(state);
}

}  // namespace
}  // namespace platform::screencast
