#pragma once

#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <memory>

#include "app/Coordinator.h"

namespace app {

namespace detail {
// Keeps the profile until the page is gone: a base class listed before QWebEnginePage is
// destroyed after it.
struct ProfileKeeper {
  std::shared_ptr<QWebEngineProfile> profile;
};
}  // namespace detail

// The dashboard's page: every navigation, new-window and permission request goes to the
// Coordinator. Main thread.
class SornWebPage final : private detail::ProfileKeeper, public QWebEnginePage {
 public:
  SornWebPage(std::shared_ptr<QWebEngineProfile> profile, std::shared_ptr<Coordinator> coordinator,
              QObject* parent);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 private:
  void onFeaturePermissionRequested(const QUrl& securityOrigin, Feature feature);
  void onNewWindowRequested(QWebEngineNewWindowRequest& request);

  std::shared_ptr<Coordinator> coordinator_;
};

}  // namespace app
