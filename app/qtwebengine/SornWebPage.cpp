#include "app/qtwebengine/SornWebPage.h"

#include "app/WebUrlParser.h"
#include "app/qtwebengine/QtRequestLoader.h"
#include "platform/dispatch/Guarded.h"

namespace app {
namespace {

std::optional<WebUrl> webUrlOf(const QUrl& url) { return parseWebUrl(url.toEncoded().constData()); }

bool isMediaCapture(QWebEnginePage::Feature feature) {
  return feature == QWebEnginePage::MediaAudioCapture || feature == QWebEnginePage::MediaVideoCapture ||
         feature == QWebEnginePage::MediaAudioVideoCapture;
}

}  // namespace

SornWebPage::SornWebPage(std::shared_ptr<QWebEngineProfile> profile, std::shared_ptr<Coordinator> coordinator,
                         QObject* parent)
    : ProfileKeeper{std::move(profile)},
      QWebEnginePage(ProfileKeeper::profile.get(), parent),
      coordinator_(std::move(coordinator)) {
  connect(this, &QWebEnginePage::featurePermissionRequested, this,
          &SornWebPage::onFeaturePermissionRequested);
  connect(this, &QWebEnginePage::newWindowRequested, this, &SornWebPage::onNewWindowRequested);
}

bool SornWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool /*isMainFrame*/) {
  // Qt reports no user activation for navigations, only their kind: a followed link is the
  // user's (or a script's click on one); frames, redirects, forms and scripts' own
  // navigations count as no gesture, so what they hand out is paced.
  const bool gesture = type == NavigationTypeLinkClicked;
  bool allowed = false;
  // A decision that fails cancels the navigation, unless it was allowed already.
  platform::dispatch::runGuarded([&] {
    coordinator_->decidePolicyFor(webUrlOf(url), gesture, [&](NavigationActionPolicy policy) {
      allowed = policy == NavigationActionPolicy::allow;
    });
  });
  return allowed;
}

void SornWebPage::onNewWindowRequested(QWebEngineNewWindowRequest& request) {
  // The request is never opened in a page, so no second view is ever made.
  platform::dispatch::runGuarded([&] {
    coordinator_->createWebViewWith(webUrlOf(request.requestedUrl()), request.isUserInitiated(),
                                    [this](const std::string& serviceUrl) {
                                      // A fresh request: the method, body and headers of the
                                      // request's own are not kept.
                                      QtRequestLoader::load(*this, serviceUrl);
                                    });
  });
}

void SornWebPage::onFeaturePermissionRequested(const QUrl& securityOrigin, Feature feature) {
  // Screen and window capture, and every other feature, are never the page's to have.
  bool granted = false;
  if (isMediaCapture(feature)) {
    // Denied when the decision fails, unless granted already.
    platform::dispatch::runGuarded([&] {
      coordinator_->requestMediaCapturePermissionFor(
          webUrlOf(securityOrigin),
          [&](PermissionDecision decision) { granted = decision == PermissionDecision::grant; });
    });
  }
  setFeaturePermission(securityOrigin, feature, granted ? PermissionGrantedByUser : PermissionDeniedByUser);
}

}  // namespace app
