#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "app/Coordinator.h"

namespace app {

// The object the top frame's bridge world reaches as "sorn" over the page's web channel:
// each page message arrives here as its JSON text. Main thread.
class PageBridge final : public QObject {
  Q_OBJECT

 public:
  PageBridge(std::shared_ptr<Coordinator> coordinator, QObject* parent);

  Q_INVOKABLE void postMessage(const QString& json);

 private:
  std::shared_ptr<Coordinator> coordinator_;
};

}  // namespace app
