// The widget extension's entry on Linux: reads the process's own arguments, then shows
// the bundle's widgets in a window or writes their snapshots.
#include <gtk/gtk.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/dispatch/StopSignals.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/text/CommandLine.h"
#include "platform/text/Translation.h"
#include "platform/widgethost/HostOptions.h"
#include "platform/widgethost/LiveHost.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "platform/widgethost/WidgetBundle.h"

namespace platform::widgethost {
namespace {

constexpr const char* kProgram = "sorn-widgets";
constexpr const char* kApplicationId = "com.tarnwell.sorn.Widgets";
constexpr int kUsageStatus = 2;
constexpr const char* kDescription = N_(
    "The Sorn widget host: shows the voice-time and streak widgets, drawn from the statistics the Sorn app "
    "stores, in a window of their own. It refreshes them every hour and at once when the app stores new "
    "statistics. With --snapshot or --gallery it writes each placed widget as a PNG file "
    "(<kind>-<family>.png) and exits without a display.");

// The arguments the process was started with, program name first. The extension's
// entry takes none, so they come from the kernel.
std::vector<std::string> processArguments() {
  g_autofree gchar* contents = nullptr;
  gsize length = 0;
  if (g_file_get_contents("/proc/self/cmdline", &contents, &length, nullptr) == FALSE) return {};
  const std::string all(contents, length);
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
      {"version", 'v', 0, G_OPTION_ARG_NONE, &printVersion, platform::text::versionOptionDescription(),
       nullptr},
      GOptionEntry{},
  }};
  g_autoptr(GOptionContext) context = g_option_context_new(nullptr);
  g_option_context_add_main_entries(context, entries.data(), nullptr);
  g_option_context_set_summary(context, _(kDescription));
  // Parsing takes out what it reads; the program name and anything unread stay.
  // NOLINTNEXTLINE(modernize-use-auto): g_auto takes the type its cleanup is chosen by
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
    platform::text::printCommandLineError(
        kProgram, platform::text::translateFilling(N_("%s needs a folder."), "%s",
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
  std::exit(status);  // NOLINT(concurrency-mt-unsafe): main() returns nothing; the host exits itself
}

// The window mode's state between the application's activation and its shutdown.
struct WindowMode {
  const WidgetBundle& bundle;
  std::unique_ptr<LiveHost> host;
};

gboolean onCloseRequest(GtkWindow* /*window*/, gpointer application) {
  g_application_quit(G_APPLICATION(application));
  return TRUE;  // the host destroys the window itself on shutdown
}

// The first activation places the widgets; a later one (a second start of the program,
// handed over to this one) only raises the window.
void onActivate(GApplication* application, gpointer data) {
  auto& mode = *static_cast<WindowMode*>(data);
  if (!mode.host) {
    mode.host = std::make_unique<LiveHost>(placeWidgets(mode.bundle), Clock::system());
    GtkWindow* window = mode.host->window().window();
    gtk_application_add_window(GTK_APPLICATION(application), window);
    g_signal_connect(window, "close-request", G_CALLBACK(onCloseRequest), application);
  }
  mode.host->window().present();
}

void onShutdown(GApplication* /*application*/, gpointer data) {
  static_cast<WindowMode*>(data)->host.reset();
}

void runWindow(const WidgetBundle& bundle) {
  if (gtk_init_check() == FALSE) {
    fail(
        "cannot open a display to show the widgets on; --snapshot DIR or --gallery DIR writes them as PNG "
        "files",
        1);
  }
  // One host a session: a second start hands over to the running one on the session bus
  // and ends. Without a bus every start runs a host of its own.
  auto application = gobject::ObjectRef<GtkApplication>::adopt(
      gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS));
  WindowMode mode{bundle, nullptr};
  g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), &mode);
  g_signal_connect(application.get(), "shutdown", G_CALLBACK(onShutdown), &mode);
  const dispatch::StopSignals stopSignals(
      [&application] { g_application_quit(G_APPLICATION(application.get())); });
  if (g_application_run(G_APPLICATION(application.get()), 0, nullptr) != 0)
    std::exit(1);  // NOLINT(concurrency-mt-unsafe): as in fail()
  g_signal_handlers_disconnect_by_data(application.get(), &mode);
}

}  // namespace

void runWidgetHost(const WidgetBundle& bundle) {
  platform::text::initTranslations();
  // GTK names the window's class (WM_CLASS) after it, which the desktop entries match.
  g_set_prgname(kProgram);
  const auto commandLine = readCommandLine(processArguments());
  if (const int* status = std::get_if<int>(&commandLine))
    std::exit(*status);  // NOLINT(concurrency-mt-unsafe): as in fail()
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
