#include "app/qtwebengine/QtSornWebView.h"

#include <QFile>
#include <QWebChannel>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "app/PageScript.h"
#include "app/qtwebengine/PageBridge.h"
#include "app/qtwebengine/QtRequestLoader.h"
#include "app/qtwebengine/SornProfile.h"
#include "app/qtwebengine/SornWebPage.h"

namespace app {
namespace {

constexpr const char* kBridgeObjectName = "sorn";
constexpr const char* kWebChannelScript = ":/qtwebchannel/qwebchannel.js";

// The bridge world of the top frame, after the web channel's own script: hands the page's
// message texts to the app. The channel comes up a few tasks after the document is made;
// what the page posts before then waits here and goes in order.
constexpr const char* kBridgeScript = R"js(
(() => {
  const waiting = [];
  let sorn = null;
  document.addEventListener('sorn-bridge-message', (event) => {
    if (typeof event.detail !== 'string') return;
    if (sorn === null) waiting.push(event.detail); else sorn.postMessage(event.detail);
  }, true);
  new QWebChannel(qt.webChannelTransport, (channel) => {
    sorn = channel.objects.sorn;
    for (const text of waiting.splice(0)) sorn.postMessage(text);
  });
})();
)js";

// A script run at document creation in the top frame only.
QWebEngineScript topFrameScript(const QString& name, const QString& source, quint32 world) {
  QWebEngineScript script;
  script.setName(name);
  script.setSourceCode(source);
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(world);
  script.setRunsOnSubFrames(false);
  return script;
}

QString webChannelSource() {
  QFile file(QString::fromLatin1(kWebChannelScript));
  if (!file.open(QIODevice::ReadOnly))
    qFatal("%s is missing from the web channel library", kWebChannelScript);
  return QString::fromUtf8(file.readAll());
}

void configure(QWebEngineSettings& settings) {
  settings.setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
  settings.setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
}

}  // namespace

QWebEngineView* QtSornWebView::makeUIView(const std::shared_ptr<Coordinator>& coordinator) const {
  auto* view = new QWebEngineView;
  auto* page = new SornWebPage(SornProfile::shared(), coordinator, view);

  // The page posts through window.webkit.messageHandlers.sorn.postMessage(...); the web
  // channel lives in the application's script world, which only the top frame's bridge
  // script uses, so no frame can reach it.
  auto* channel = new QWebChannel(page);
  channel->registerObject(QString::fromLatin1(kBridgeObjectName), new PageBridge(coordinator, channel));
  page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
  page->scripts().insert(topFrameScript(QStringLiteral("sorn-page"), QString::fromUtf8(kPageScript),
                                        QWebEngineScript::MainWorld));
  page->scripts().insert(topFrameScript(QStringLiteral("sorn-bridge"),
                                        webChannelSource() + QString::fromUtf8(kBridgeScript),
                                        QWebEngineScript::ApplicationWorld));

  configure(*page->settings());
  // Black, as the backdrop behind it, until the page paints. Not transparent: on this
  // engine a transparent page draws nothing of its own at all.
  page->setBackgroundColor(Qt::black);
  view->setPage(page);
  QtRequestLoader::load(*page, url_);
  return view;
}

}  // namespace app
