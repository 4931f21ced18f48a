// The widget extension's entry on Linux: reads the process's own arguments, then shows
// the bundle's widgets in a window or writes their snapshots.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "platform/widgethost/HostOptions.h"
#include "platform/widgethost/LiveHost.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "platform/widgethost/WidgetBundle.h"
#include "platform/text/CommandLine.h"
#include "platform/text/Translation.h"

namespace platform::widgethost {
namespace {

constexpr const char* kProgram = "sorn-widgets";
constexpr int kUsageStatus = 2;
constexpr const char* kDescription = N_(
    "The Sorn widget host: shows the voice-time and streak widgets, drawn from the statistics the Sorn app "
    "stores, in a window of their own. It refreshes them every hour and at once when the app stores new "
    "statistics. With --snapshot or --gallery it writes each placed widget as a PNG file "
    "(<kind>-<family>.png) and exits without a display.");

// The arguments the process was started with, program name first. The extension's
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
  return arguments;
}

// The options, or the exit status when the command line asks for nothing to be shown
// (--help, --version) or is wrong.
std::variant<HostOptions, int> readCommandLine(const std::vector<std::string>& arguments) {
  g_autofree gchar* snapshot = nullptr;
  g_autofree gchar* gallery = nullptr;
  gboolean printVersion = FALSE;
  const std::array<GOptionEntry, 4> entries = {{
      {"snapshot", 0, 0, G_OPTION_ARG_FILENAME, &snapshot,
       _("Write <kind>-<family>.png for each placed widget and exit"), _("DIR")},
      {"gallery", 0, 0, G_OPTION_ARG_FILENAME, &gallery,
       _("The same with the widget gallery's preview content"), _("DIR")},
      {"version", 'v', 0, G_OPTION_ARG_NONE, &printVersion, platform::text::versionOptionDescription(), nullptr},
      GOptionEntry{},
  }};
  g_autoptr(GOptionContext) context = g_option_context_new(nullptr);
  g_option_context_add_main_entries(context, entries.data(), nullptr);
  g_option_context_set_summary(context, _(kDescription));
  // Parsing takes out what it reads; the program name and anything unread stay.
  g_auto(GStrv) remaining = g_new0(gchar*, arguments.size() + 1);
  for (std::size_t i = 0; i < arguments.size(); ++i) remaining[i] = g_strdup(arguments[i].c_str());
  g_autoptr(GError) error = nullptr;
  if (g_option_context_parse_strv(context, &remaining, &error) == FALSE) {
    platform::text::printCommandLineError(kProgram, error->message);
    return kUsageStatus;
  }
  if (remaining[0] != nullptr && remaining[1] != nullptr) {
    platform::text::printUnexpectedArgument(kProgram, remaining[1]);
    return kUsageStatus;
  }
  if (snapshot != nullptr && gallery != nullptr) {
    platform::text::printCommandLineError(kProgram, _("Only one of --snapshot and --gallery can be given."));
    return kUsageStatus;
  }
  if ((snapshot != nullptr && *snapshot == '\0') || (gallery != nullptr && *gallery == '\0')) {
    platform::text::printCommandLineError(kProgram,
                                  platform::text::translateFilling(N_("%s needs a folder."), "%s",
                                                           snapshot != nullptr ? "--snapshot" : "--gallery"));
    return kUsageStatus;
  }
  if (printVersion != FALSE) {
    platform::text::printVersion(kProgram);
    return 0;
  }
  HostOptions options;
  if (snapshot != nullptr) options = {.mode = HostOptions::Mode::snapshot, .directory = snapshot};
  if (gallery != nullptr) options = {.mode = HostOptions::Mode::gallery, .directory = gallery};
  return options;
}

[[noreturn]] void fail(const std::string& message, int status) {
  platform::text::printCommandLineError(kProgram, message);
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
  platform::text::initTranslations();
  // GTK names the window's class (WM_CLASS) after it, which the desktop entries match.
  g_set_prgname(kProgram);
  const auto commandLine = readCommandLine(processArguments());
  if (const int* status = std::get_if<int>(&commandLine)) std::exit(*status);
  const auto& options = std::get<HostOptions>(commandLine);
  switch (options.mode) {
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
