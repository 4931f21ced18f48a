#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "app/Coordinator.h"
#include "app/SornWebView.h"

namespace app {

// The window's content: a black backdrop over the whole window with the web view over
// it. The returned GtkOverlay is the window's child; the broadcast picker attaches
// itself to it as an overlay child. Main thread.
class RootView {
 public:
  // The dashboard in its web view, with the desktop's services.
  static GtkWidget* body();

  // The same layout around the given web view host (a floating reference).
  static GtkWidget* body(const SornWebView& webView, const std::shared_ptr<Coordinator>& coordinator);

  // The page the app shows: the dashboard URL fixed when the build was configured.
  static const std::string& dashboardURL();
};

}  // namespace app
