#pragma once

#include <glib.h>

#include <QApplication>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <memory>
#include <string>

#include "app/qtwebengine/QtRequestLoader.h"
#include "app/qtwebengine/QtRootView.h"
#include "tests/support/MainLoopSpin.h"

namespace apptest {

// The real QtSornWebView in the QtRootView layout in a window on the test's display, wired
// to a Coordinator of the test's choosing. Qt runs on the GLib main loop, so spinning the
// default main context runs it too. Main thread.
class QtWebEngineHarness {
 public:
  // The engine has WebRTC: the dashboard can hold a voice call.
  static constexpr bool kHoldsVoiceCalls = true;

  QtWebEngineHarness(const std::string& url, app::CoordinatorServices services, const std::string& domain) {
    startApplication();
    window_ = std::make_unique<QWidget>();
    window_->resize(390, 844);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    auto coordinator = std::make_shared<app::Coordinator>(std::move(services), domain);
    layout->addWidget(app::QtRootView::body(app::QtSornWebView(url), coordinator));
    view_ = window_->findChild<QWebEngineView*>();
    QObject::connect(view_->page(), &QWebEnginePage::loadFinished, view_, [this] { ++loads_; });
    window_->show();
  }
  ~QtWebEngineHarness() {
    // The page, and with it the profile, goes with the window; the engine writes what it
    // keeps (cookies) before the next test's data folder.
    window_.reset();
    testsupport::spinUntil([] { return false; }, std::chrono::milliseconds(300));
  }
  QtWebEngineHarness(const QtWebEngineHarness&) = delete;
  QtWebEngineHarness& operator=(const QtWebEngineHarness&) = delete;

  // Black like the backdrop: a transparent page would draw nothing here.
  bool backgroundMatchesTheBackdrop() const { return view_->page()->backgroundColor() == QColor(Qt::black); }
  void loadWithTimeout(const std::string& url, std::chrono::milliseconds timeout) {
    app::QtRequestLoader::load(*view_->page(), url, timeout);
  }
  // A real click of the left mouse button: Qt counts script run by the app as no user gesture.
  void clickAt(double x, double y) {
    QWidget* target = view_->focusProxy();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, QPointF(x, y), target->mapToGlobal(QPointF(x, y)), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &event);
    }
  }
  // Qt has no handler after the page's: a request the page leaves unanswered stays pending.
  int permissionPrompts() const { return 0; }
  int loads() const { return loads_; }
  std::string title() const { return view_->page()->title().toStdString(); }
  // Runs the script in the main frame's page world; `done`, if any, gets its value as text.
  void run(const std::string& script, std::function<void(std::string)> done) {
    view_->page()->runJavaScript(QString::fromStdString(script),
                                 [done = std::move(done)](const QVariant& value) {
                                   if (done) done(value.toString().toStdString());
                                 });
  }

 private:
  // One application for the process, on the engine's fake media devices; without the
  // sandbox, which refuses to run as root. Without the engine's fake permission prompt
  // too, which would grant media capture before the app's page is asked. Dark, as the
  // app asks for, so that the engine's own pages look as they do in the app.
  static void startApplication() {
    static const bool started = [] {
      g_setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", TRUE);
      g_setenv("QTWEBENGINE_CHROMIUM_FLAGS",
               "--use-fake-device-for-media-stream --allow-loopback-in-peer-connection --force-dark-mode",
               TRUE);
      QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
      static int argc = 1;
      static char name[] = "sorn-engine-test";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // kept to the process's end, as the engine needs
      return true;
    }();
    (void)started;
  }

  std::unique_ptr<QWidget> window_;
  QWebEngineView* view_ = nullptr;
  int loads_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::QtWebEngineHarness;
