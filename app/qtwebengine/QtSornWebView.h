#pragma once

#include <QWebEngineView>
#include <memory>
#include <string>

#include "app/Coordinator.h"

namespace app {

// Hosts the one QtWebEngine view the dashboard runs in: builds and configures it, wires
// its page to a Coordinator and loads `url` once. Main thread.
class QtSornWebView {
 public:
  explicit QtSornWebView(std::string url) : url_(std::move(url)) {}

  // The page loaded when the view is created; never changes afterwards.
  [[nodiscard]] const std::string& url() const { return url_; }

  // The configured view, without a parent, already loading `url`. Its page keeps the
  // Coordinator for as long as it lives.
  [[nodiscard]] QWebEngineView* makeUIView(const std::shared_ptr<Coordinator>& coordinator) const;

 private:
  const std::string url_;
};

}  // namespace app
