#include "app/SornApp.h"

#include <gtk/gtk.h>

#include <array>

#include "app/CommandLine.h"
#include "app/RootView.h"
#include "platform/dispatch/StopSignals.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/text/CommandLine.h"

namespace app {
namespace {

void onStartup(GApplication* /*application*/, gpointer /*data*/) {
  // The dark colour scheme, for GTK and for the page's prefers-color-scheme.
  g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);
}

void onActivate(GApplication* application, gpointer /*data*/) {
  // One window for the app's whole life; a later activation only raises it.
  if (GtkWindow* existing = gtk_application_get_active_window(GTK_APPLICATION(application))) {
    gtk_window_present(existing);
    return;
  }
  GtkWidget* window = gtk_application_window_new(GTK_APPLICATION(application));
  gtk_window_set_title(GTK_WINDOW(window), "Sorn");
  gtk_window_set_default_size(GTK_WINDOW(window), SornApp::kDefaultWidth, SornApp::kDefaultHeight);
  gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
  gtk_window_set_child(GTK_WINDOW(window), RootView::body());
  gtk_window_present(GTK_WINDOW(window));
}

// --version and a stray argument are answered here, in the process they were given to,
// never in a running app.
gint onHandleLocalOptions(GApplication* /*application*/, GVariantDict* options, gpointer /*data*/) {
  g_autofree const gchar** stray = nullptr;
  if (g_variant_dict_lookup(options, G_OPTION_REMAINING, "^a&s", &stray) != FALSE && stray[0] != nullptr) {
    platform::text::printUnexpectedArgument(kProgramName, stray[0]);
    return 1;
  }
  if (g_variant_dict_contains(options, "version") == FALSE) return -1;
  platform::text::printVersion(kProgramName);
  return 0;
}

// --help, --version and a wrong argument are answered by GOption before any window opens.
void addCommandLine(GApplication* application) {
  const std::array<GOptionEntry, 3> entries = {{
      {"version", 'v', 0, G_OPTION_ARG_NONE, nullptr, platform::text::versionOptionDescription(), nullptr},
      {G_OPTION_REMAINING, 0, G_OPTION_FLAG_HIDDEN, G_OPTION_ARG_STRING_ARRAY, nullptr, nullptr, nullptr},
      GOptionEntry{},
  }};
  g_application_add_main_option_entries(application, entries.data());
  g_application_set_option_context_summary(application, _(kDescription));
  g_signal_connect(application, "handle-local-options", G_CALLBACK(onHandleLocalOptions), nullptr);
}

}  // namespace

int SornApp::main(int argc, char** argv) {
  platform::text::initTranslations();
  auto application = platform::gobject::ObjectRef<GtkApplication>::adopt(
      gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS));
  addCommandLine(G_APPLICATION(application.get()));
  g_signal_connect(application.get(), "startup", G_CALLBACK(onStartup), nullptr);
  g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), nullptr);
  // Ended like a closed window, so that the engine lets go of its profile and cookies.
  const platform::dispatch::StopSignals stopSignals(
      [&application] { g_application_quit(G_APPLICATION(application.get())); });
  return g_application_run(G_APPLICATION(application.get()), argc, argv);
}

}  // namespace app
