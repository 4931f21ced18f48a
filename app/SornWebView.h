#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "app/Coordinator.h"

namespace app {

// Hosts the one web view the dashboard runs in: builds and configures it, wires its
// callbacks to a Coordinator and loads `url` once. Main thread.
class SornWebView {
 public:
  explicit SornWebView(std::string url) : url_(std::move(url)) {}

  // The page loaded when the web view is created; never changes afterwards.
  [[nodiscard]] const std::string& url() const { return url_; }

  // The configured web view (a floating reference), already loading `url`. The web view
  // keeps the Coordinator for as long as it lives.
  [[nodiscard]] GtkWidget* makeUIView(const std::shared_ptr<Coordinator>& coordinator) const;

 private:
  const std::string url_;
};

}  // namespace app
