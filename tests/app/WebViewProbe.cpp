// A process that hosts the real SornWebView on one page and exits 0 once the page sets
// its title to "done" (3 after 30 s without). Lets tests start "the app" again on the
// same data folders.
//   sorn-webview-probe URL SERVICE_DOMAIN
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/Coordinator.h"
#include "app/RootView.h"
#include "app/SornWebView.h"
#include "tests/app/RecordingServices.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sorn-webview-probe URL SERVICE_DOMAIN\n");
    return 2;
  }
  gtk_init();
  apptest::RecordingServices services;
  auto coordinator = std::make_shared<app::Coordinator>(services.services(), argv[2]);
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_child(window, app::RootView::body(app::SornWebView(argv[1]), coordinator));
  auto* webView = WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(gtk_window_get_child(window))));
  gtk_window_present(window);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 3;
  while (std::chrono::steady_clock::now() < deadline) {
    const char* title = webkit_web_view_get_title(webView);
    if (title != nullptr && std::strcmp(title, "done") == 0) {
      status = 0;
      break;
    }
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
  }
  gtk_window_destroy(window);
  return status;
}
