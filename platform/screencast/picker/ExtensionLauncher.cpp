#include "platform/screencast/picker/ExtensionLauncher.h"

#include <gio/gio.h>
#include <unistd.h>

#include "platform/gobject/ObjectRef.h"

namespace platform::screencast {
namespace {

// Runs in the child between fork and exec: only async-signal-safe calls. A session of
// its own keeps the extension out of the app's process group, so a Ctrl+C or hang-up
// meant for the app does not end the broadcast.
void startOwnSession(gpointer /*unused*/) { setsid(); }

}  // namespace

bool launchExtension(const ExtensionMetadata& extension, const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(extension.exec.c_str());
  for (const auto& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  const auto launcher =
      gobject::ObjectRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
  g_subprocess_launcher_set_child_setup(launcher.get(), startOwnSession, nullptr, nullptr);
  g_autoptr(GError) error = nullptr;
  // The subprocess object keeps itself alive until the child has ended and been reaped,
  // so letting go of our reference here does not orphan a zombie.
  const auto process = gobject::ObjectRef<GSubprocess>::adopt(
      g_subprocess_launcher_spawnv(launcher.get(), argv.data(), &error));
  if (!process) g_debug("the extension %s cannot be started: %s", extension.exec.c_str(), error->message);
  return static_cast<bool>(process);
}

}  // namespace platform::screencast
