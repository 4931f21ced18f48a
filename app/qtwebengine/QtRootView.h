#pragma once

#include <QWidget>
#include <memory>

#include "app/Coordinator.h"
#include "app/qtwebengine/QtSornWebView.h"

namespace app {

// The window's content: a black backdrop over the whole window with the web view over
// it. Main thread.
class QtRootView {
 public:
  // The dashboard in its web view, with the desktop's services; no parent.
  static QWidget* body();

  // The same layout around the given web view host.
  static QWidget* body(const QtSornWebView& webView, const std::shared_ptr<Coordinator>& coordinator);
};

}  // namespace app
