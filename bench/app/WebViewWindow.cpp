#include "bench/app/WebViewWindow.h"

#include "app/Coordinator.h"
#include "app/RootView.h"
#include "app/SornApp.h"
#include "app/SornWebView.h"
#include "bench/app/MainLoopWait.h"
#include "platform/desktop/SystemOpener.h"
#include "platform/desktop/WidgetCenter.h"
#include "platform/dispatch/MainLoopQueue.h"

namespace bench {
namespace {

// The benchmark pages never ask for a broadcast.
class NoBroadcast final : public app::BroadcastLauncher {
 public:
  void startBroadcast() override {}
};

double secondsSince1970() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<WebViewWindow> WebViewWindow::app(const std::string& url, const std::string& serviceDomain) {
  static NoBroadcast launcher;
  auto coordinator = std::make_shared<app::Coordinator>(
      app::CoordinatorServices{secondsSince1970, platform::desktop::WidgetCenter::shared(), launcher,
                               platform::desktop::SystemOpener::shared(),
                               platform::dispatch::MainLoopQueue::shared(),
                               [] { return std::chrono::steady_clock::now(); }},
      serviceDomain);
  GtkWidget* root = app::RootView::body(app::SornWebView(url), coordinator);
  return std::make_unique<WebViewWindow>(root, WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(root))));
}

WebViewWindow::WebViewWindow(GtkWidget* content, WebKitWebView* webView)
    : window_(platform::gobject::ObjectRef<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()))),
      webView_(webView) {
  gtk_window_set_default_size(window_.get(), app::SornApp::kDefaultWidth, app::SornApp::kDefaultHeight);
  gtk_window_set_child(window_.get(), content);
  g_signal_connect(webView_, "load-changed", G_CALLBACK(&WebViewWindow::onLoadChanged), this);
}

WebViewWindow::~WebViewWindow() {
  g_signal_handlers_disconnect_by_data(webView_, this);
  gtk_window_destroy(window_.get());
  iterateMainLoopUntil([] { return false; }, std::chrono::milliseconds(100));
}

bool WebViewWindow::presentLoaded(std::chrono::milliseconds limit) {
  gtk_window_present(window_.get());
  return iterateMainLoopUntil([this] { return loaded_; }, limit);
}

void WebViewWindow::run(const std::string& script) const {
  webkit_web_view_evaluate_javascript(webView_, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

void WebViewWindow::onLoadChanged(WebKitWebView* /*webView*/, WebKitLoadEvent event, gpointer self) {
  if (event == WEBKIT_LOAD_FINISHED) static_cast<WebViewWindow*>(self)->loaded_ = true;
}

}  // namespace bench
