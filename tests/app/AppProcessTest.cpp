// The app itself as a process, built once per engine: how it ends when asked to.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

#include "tests/support/MainLoopSpin.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDataDir.h"

namespace {

using namespace std::chrono_literals;

const auto* const kBus = ::testing::AddGlobalTestEnvironment(new testsupport::PrivateBus);

TEST(AppProcessTest, EachEnginesAppEndsWithStatusZeroOnSigtermAndSigint) {
  const testsupport::TempDataDir dir;
  g_setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", TRUE);  // tests may run as root
  for (const char* program : {SORN_APP_QTWEBENGINE, SORN_APP_WEBKITGTK}) {
    for (const int stopSignal : {SIGTERM, SIGINT}) {
      SCOPED_TRACE(std::string(program) + " " + std::to_string(stopSignal));
      const char* argv[] = {program, nullptr};
      GPid pid = 0;
      ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                nullptr, nullptr, &pid, nullptr));
      // Registered, then a moment for the engine to come up and start loading the dashboard.
      EXPECT_TRUE(testsupport::spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn"); }));
      testsupport::spinUntil([] { return false; }, 2s);
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the app ended on its own";
      const auto stopped = testsupport::stopAndReap(pid, stopSignal, 20s);
      EXPECT_TRUE(stopped && WIFEXITED(*stopped) && WEXITSTATUS(*stopped) == 0) << stopped.value_or(-1);
    }
  }
}

}  // namespace
