#include "app/qtwebengine/PageBridge.h"

#include "platform/dispatch/Guarded.h"

namespace app {

PageBridge::PageBridge(std::shared_ptr<Coordinator> coordinator, QObject* parent)
    : QObject(parent), coordinator_(std::move(coordinator)) {}

void PageBridge::postMessage(const QString& json) {
  // A message whose handling fails is dropped.
  platform::dispatch::runGuarded([&] { coordinator_->userContentController(json.toStdString()); });
}

}  // namespace app
