// The widget extension's entry on Linux: reads the process's own arguments, then shows
// the bundle's widgets in a window or writes their snapshots.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/widgethost/HostOptions.h"
#include "platform/widgethost/LiveHost.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "platform/widgethost/WidgetBundle.h"

namespace platform::widgethost {
namespace {

constexpr const char* kProgram = "sorn-widgets";

// The arguments the process was started with, program name left out. The extension's
// entry takes none, so they come from the kernel.
std::vector<std::string> processArguments() {
  gchar* contents = nullptr;
  gsize length = 0;
  if (g_file_get_contents("/proc/self/cmdline", &contents, &length, nullptr) == FALSE) return {};
  const std::string all(contents, length);
  g_free(contents);
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = all.find('\0', start);
    arguments.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

[[noreturn]] void fail(const std::string& message, int status) {
  std::cerr << kProgram << ": " << message << '\n';
  std::exit(status);
}

gboolean quitLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

gboolean onCloseRequest(GtkWindow* /*window*/, gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return TRUE;  // the host destroys the window itself on the way out
}

void runWindow(const WidgetBundle& bundle) {
  if (!gtk_init_check()) {
    fail(
        "cannot open a display to show the widgets on; --snapshot DIR or --gallery DIR writes them as PNG "
        "files",
        1);
  }
  LiveHost host(placeWidgets(bundle), Clock::system());
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  g_signal_connect(host.window().window(), "close-request", G_CALLBACK(onCloseRequest), loop);
  // Above everything else on the loop, so that no amount of pending work (a flood of
  // reload signals) keeps the host from ending when asked to.
  const guint interrupt = g_unix_signal_add_full(G_PRIORITY_HIGH, SIGINT, &quitLoop, loop, nullptr);
  const guint terminate = g_unix_signal_add_full(G_PRIORITY_HIGH, SIGTERM, &quitLoop, loop, nullptr);
  host.window().present();
  g_main_loop_run(loop);
  g_source_remove(interrupt);
  g_source_remove(terminate);
}

}  // namespace

void runWidgetHost(const WidgetBundle& bundle) {
  std::setlocale(LC_ALL, "");
  // GTK names the window's class (WM_CLASS) after it, which the desktop entries match.
  g_set_prgname(kProgram);
  const auto parsed = HostOptions::parse(processArguments());
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::cerr << kProgram << ": " << *error << '\n' << HostOptions::usage();
    std::exit(2);
  }
  const auto& options = std::get<HostOptions>(parsed);
  switch (options.mode) {
    case HostOptions::Mode::help:
      std::cout << HostOptions::usage();
      return;
    case HostOptions::Mode::snapshot:
    case HostOptions::Mode::gallery: {
      SnapshotWriter writer;
      const bool preview = options.mode == HostOptions::Mode::gallery;
      if (auto error = writer.writeAll(placeWidgets(bundle), preview, options.directory)) fail(*error, 1);
      return;
    }
    case HostOptions::Mode::window:
      runWindow(bundle);
      return;
  }
}

}  // namespace platform::widgethost
