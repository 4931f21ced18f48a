// Baseline for the WebKitGTK app's start-up and memory: a bare GTK 4 window of the app's size
// with one WebKitGTK web view loading the URL it is given, running until SIGTERM.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "app/SornApp.h"

int main(int argc, char** argv) {
  if (argc != 2 || !gtk_init_check()) return 2;
  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), app::SornApp::kDefaultWidth, app::SornApp::kDefaultHeight);
  GtkWidget* webView = webkit_web_view_new();
  gtk_window_set_child(GTK_WINDOW(window), webView);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(webView), argv[1]);
  gtk_window_present(GTK_WINDOW(window));
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
  return 0;
}
