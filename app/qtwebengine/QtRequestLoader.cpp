#include "app/qtwebengine/QtRequestLoader.h"

#include <QTimer>
#include <QUrl>

namespace app {
namespace {

constexpr const char* kWatchdogName = "sorn-request-watchdog";
// The engine reports this much as soon as a load starts; more only once the page's
// response is being read.
constexpr int kProgressBeforeResponse = 10;

// The pending timeout of one page: a timer kept as the page's child, so it goes with it.
QTimer& watchdogOf(QWebEnginePage& page) {
  if (auto* existing =
          page.findChild<QTimer*>(QString::fromLatin1(kWatchdogName), Qt::FindDirectChildrenOnly)) {
    return *existing;
  }
  auto* watchdog = new QTimer(&page);
  watchdog->setObjectName(QString::fromLatin1(kWatchdogName));
  watchdog->setSingleShot(true);
  QObject::connect(watchdog, &QTimer::timeout, &page, [&page] { page.triggerAction(QWebEnginePage::Stop); });
  QObject::connect(&page, &QWebEnginePage::loadProgress, watchdog, [watchdog](int progress) {
    if (progress > kProgressBeforeResponse) watchdog->stop();
  });
  // Finished also follows a failure, or a newer load that replaced this one.
  QObject::connect(&page, &QWebEnginePage::loadFinished, watchdog, &QTimer::stop);
  return *watchdog;
}

}  // namespace

void QtRequestLoader::load(QWebEnginePage& page, const std::string& url, std::chrono::milliseconds timeout) {
  QTimer& watchdog = watchdogOf(page);
  // Armed first: a load that ends at once disarms it again. At worst the end of a load
  // this one replaced disarms it too; it never stops a load it was not armed for.
  watchdog.start(timeout);
  page.load(QUrl(QString::fromStdString(url)));
}

}  // namespace app
