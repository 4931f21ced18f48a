#pragma once

#include <QObject>
#include <QString>

namespace apptest {

// Takes the place of the page's "sorn" object on its web channel: counts each message
// that crossed from the page, then hands it to the real bridge object. Main thread.
class CountingBridge final : public QObject {
  Q_OBJECT

 public:
  CountingBridge(QObject* bridge, QObject* parent) : QObject(parent), bridge_(bridge) {}

  Q_INVOKABLE void postMessage(const QString& json) {
    ++count_;
    QMetaObject::invokeMethod(bridge_, "postMessage", Qt::DirectConnection, Q_ARG(QString, json));
  }
  int count() const { return count_; }

 private:
  QObject* bridge_;
  int count_ = 0;
};

}  // namespace apptest
