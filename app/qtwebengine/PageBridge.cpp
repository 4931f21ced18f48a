#include "app/qtwebengine/PageBridge.h"

namespace app {

PageBridge::PageBridge(std::shared_ptr<Coordinator> coordinator, QObject* parent)
    : QObject(parent), coordinator_(std::move(coordinator)) {}

void PageBridge::postMessage(const QString& json) {
  try {
    coordinator_->userContentController(json.toStdString());
  } catch (...) {
    // Nothing may unwind into the engine; the message is dropped.
  }
}

}  // namespace app
