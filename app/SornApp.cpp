#include "app/SornApp.h"

#include <gtk/gtk.h>

#include "app/RootView.h"
#include "platform/gobject/ObjectRef.h"

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

}  // namespace

int SornApp::main(int argc, char** argv) {
  auto application = platform::gobject::ObjectRef<GtkApplication>::adopt(
      gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS));
  g_signal_connect(application.get(), "startup", G_CALLBACK(onStartup), nullptr);
  g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), nullptr);
  return g_application_run(G_APPLICATION(application.get()), argc, argv);
}

}  // namespace app
