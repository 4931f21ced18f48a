#include "app/RootView.h"

#include "app/DesktopCoordinator.h"
#include "platform/gobject/ObjectRef.h"
#include "shared/Constants.h"

namespace app {
namespace {

constexpr const char* kBackdropClass = "sorn-backdrop";

void installBackdropStyle() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  auto provider = platform::gobject::ObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new());
  gtk_css_provider_load_from_data(provider.get(), ".sorn-backdrop { background-color: black; }", -1);
  gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider.get()),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace

const std::string& RootView::dashboardURL() {
  static const std::string url = shared::kDashboardUrl;
  return url;
}

GtkWidget* RootView::body() {
  const SornWebView webView(dashboardURL());
  return body(webView, makeDesktopCoordinator());
}

GtkWidget* RootView::body(const SornWebView& webView, const std::shared_ptr<Coordinator>& coordinator) {
  installBackdropStyle();
  // The overlay's own background is the backdrop: black on every edge, under the web
  // view whose background is transparent until the page paints.
  GtkWidget* overlay = gtk_overlay_new();
  gtk_widget_add_css_class(overlay, kBackdropClass);
  gtk_overlay_set_child(GTK_OVERLAY(overlay), webView.makeUIView(coordinator));
  return overlay;
}

}  // namespace app
