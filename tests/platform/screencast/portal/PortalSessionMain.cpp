// sorn-portal-session -- COMMAND [ARGS...]: runs COMMAND inside a portal rig of its own (see
// PortalRig.h) and ends with COMMAND's exit status; 77 when this machine cannot run the rig.
// COMMAND finds the rig's bus in DBUS_SESSION_BUS_ADDRESS and steers the mock's user with
// the method org.sorn.test.ScreenCastMock.Configure of org.sorn.test.ScreenCastMock at
// /org/freedesktop/portal/desktop, whose argument is
//   {'cancel_start': <true>, 'close_after_seconds': <uint32 0>, 'reject_grant': <''>}
// and reads how often it asked the user with ...ScreenCastMock.Stats (prompts, last grant).
#include <glib.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tests/platform/screencast/portal/PortalRig.h"

namespace {
constexpr int kSkipStatus = 77;
}

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() < 2 || arguments.front() != "--") {
    std::fputs("usage: sorn-portal-session -- COMMAND [ARGS...]\n", stderr);
    return 2;
  }
  const auto missing = testsupport::PortalRig::missingPrograms();
  if (!missing.empty()) {
    std::fprintf(stderr, "sorn-portal-session: %s is not installed\n", missing.front().c_str());
    return kSkipStatus;
  }
  try {
    testsupport::PortalRig rig;
    std::vector<std::string> environment = rig.environment();
    std::vector<gchar*> commandArgv;
    for (auto it = arguments.begin() + 1; it != arguments.end(); ++it)
      commandArgv.push_back(const_cast<gchar*>(it->c_str()));
    commandArgv.push_back(nullptr);
    std::vector<gchar*> commandEnvironment;
    for (auto& entry : environment) commandEnvironment.push_back(entry.data());
    commandEnvironment.push_back(nullptr);
    // The rig's descriptors are not the command's; its output goes where ours does.
    gint status = 0;
    g_autoptr(GError) error = nullptr;
    const bool ran =
        g_spawn_sync(nullptr, commandArgv.data(), commandEnvironment.data(),
                     static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_CHILD_INHERITS_STDIN), nullptr,
                     nullptr, nullptr, nullptr, &status, &error);
    if (!ran) {
      std::fprintf(stderr, "sorn-portal-session: %s\n", error->message);
      return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "sorn-portal-session: %s\n", failure.what());
    return 1;
  }
}
