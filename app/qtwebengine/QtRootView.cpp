#include "app/qtwebengine/QtRootView.h"

#include <QPalette>
#include <QVBoxLayout>

#include "app/DesktopCoordinator.h"
#include "shared/Constants.h"

namespace app {

QWidget* QtRootView::body() { return body(QtSornWebView(shared::kDashboardUrl), makeDesktopCoordinator()); }

QWidget* QtRootView::body(const QtSornWebView& webView, const std::shared_ptr<Coordinator>& coordinator) {
  auto* backdrop = new QWidget;
  QPalette palette = backdrop->palette();
  palette.setColor(QPalette::Window, Qt::black);
  backdrop->setPalette(palette);
  backdrop->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(backdrop);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(webView.makeUIView(coordinator));
  return backdrop;
}

}  // namespace app
