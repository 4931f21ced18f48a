#pragma once

#include <glib.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/qtwebengine/QtRequestLoader.h"
#include "app/qtwebengine/QtRootView.h"
#include "tests/app/CountingBridge.h"
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
    page_ = view_->page();
    // Before the first turn of the loop, so before the page can reach the channel.
    QWebChannel* channel = page_->webChannel();
    QObject* bridge = channel->registeredObjects().value(QStringLiteral("sorn"));
    channel->deregisterObject(bridge);
    counter_ = new CountingBridge(bridge, channel);
    channel->registerObject(QStringLiteral("sorn"), counter_);
    QObject::connect(page_, &QWebEnginePage::loadFinished, page_, [this] { ++loads_; });
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

  int bridgeMessages() const { return counter_->count(); }
  // Black like the backdrop: a transparent page would draw nothing here.
  bool backgroundMatchesTheBackdrop() const { return page_->backgroundColor() == QColor(Qt::black); }
  void loadWithTimeout(const std::string& url, std::chrono::milliseconds timeout) {
    app::QtRequestLoader::load(*page_, url, timeout);
  }
  // What the window shows, backdrop included: one luminance (0-255) a pixel.
  std::vector<std::uint8_t> shownLuminances() {
    const QImage image = window_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> luminances;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x)
        luminances.push_back(static_cast<std::uint8_t>(qGray(image.pixel(x, y))));
    }
    return luminances;
  }
  // A real click of the left mouse button on the middle of the element with that id: Qt
  // counts script run by the app as no user gesture.
  void click(const std::string& id) {
    const auto middle = nlohmann::json::parse(
        evaluate("(() => { const element = document.getElementById('" + id +
                 "'); element.scrollIntoView({block: 'center'}); const r = element.getBoundingClientRect(); "
                 "return [r.x + r.width / 2, r.y + r.height / 2]; })()"));
    const QPointF point(middle[0].get<double>(), middle[1].get<double>());
    QWidget* target = view_->focusProxy();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, point, target->mapToGlobal(point), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &event);
    }
  }
  // The engine's fake capture devices are switched on for the whole test process.
  void useFakeCaptureDevices() {}
  // Qt has no handler after the page's: a request the page leaves unanswered stays pending.
  int permissionPrompts() const { return 0; }

  bool waitForLoads(int count) const {
    return testsupport::spinUntil([&] { return loads_ >= count; });
  }

  // Runs the script in the main frame's page world; the JSON text of its result, or
  // "exception: ..." when it threw.
  std::string evaluate(const std::string& script) {
    const std::string wrapped = "(() => { try { const value = (0, eval)(" + nlohmann::json(script).dump() +
                                "); const text = JSON.stringify(value); return text === undefined ? "
                                "'undefined' : text; } catch (e) { return 'exception: ' + e; } })()";
    // Shared with the callback, which may come after a timed-out wait has given up.
    const auto result = std::make_shared<std::optional<std::string>>();
    page_->runJavaScript(QString::fromStdString(wrapped), QWebEngineScript::MainWorld,
                         [result](const QVariant& value) { *result = value.toString().toStdString(); });
    testsupport::spinUntil([&] { return result->has_value(); });
    return result->value_or("exception: no answer");
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
  QWebEnginePage* page_ = nullptr;
  CountingBridge* counter_ = nullptr;
  int loads_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::QtWebEngineHarness;
