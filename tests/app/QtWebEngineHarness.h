#pragma once

#include <glib.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher/QtLauncherPlatform.h"
#include "app/qtwebengine/QtApplication.h"
#include "app/qtwebengine/QtRequestLoader.h"
#include "app/qtwebengine/QtRootView.h"
#include "platform/screencast/picker/QtBroadcastChooserSheet.h"
#include "tests/support/MainLoopSpin.h"

namespace apptest {

// The app's window on the test's display: the real QtRootView around a QtSornWebView wired to
// a Coordinator on the test's services; the launcher's picker and chooser sheets in and over
// it. Qt runs on the GLib main loop, so spinning the default main context runs it too. Main thread.
class QtWebEngineHarness {
 public:
  using Sheet = QDialog*;
  // The engine has WebRTC: the dashboard can hold a voice call.
  static constexpr bool kHoldsVoiceCalls = true;

  QtWebEngineHarness(const std::string& url, app::CoordinatorServices services) {
    start();
    // The pages come from loopback servers: the service domain is theirs.
    auto coordinator = std::make_shared<app::Coordinator>(std::move(services), "127.0.0.1");
    window_.reset(app::QtRootView::body(app::QtSornWebView(url), coordinator));
    window_->resize(390, 844);
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

  // One application for the process, as the app makes it, on the engine's fake media
  // devices; without the sandbox, which refuses to run as root. Without the engine's fake
  // permission prompt too, which would grant media capture before the app's page is asked.
  static void start() {
    [[maybe_unused]] static const bool started = [] {
      g_setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", TRUE);
      g_setenv("QTWEBENGINE_CHROMIUM_FLAGS",
               "--use-fake-device-for-media-stream --allow-loopback-in-peer-connection", TRUE);
      static int argc = 1;
      static char name[] = "sorn-engine-test";
      static char* argv[] = {name, nullptr};
      app::makeQtApplication(argc, argv).release();  // kept to the process's end, as the engine needs
      return true;
    }();
  }

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
  // Runs the script in the main frame's page world; `done`, if any, gets its value as text.
  void run(const std::string& script, std::function<void(std::string)> done) {
    view_->page()->runJavaScript(QString::fromStdString(script),
                                 [done = std::move(done)](const QVariant& value) {
                                   if (done) done(value.toString().toStdString());
                                 });
  }

  static std::unique_ptr<app::LauncherPlatform> launcherPlatform() {
    start();
    return std::make_unique<app::QtLauncherPlatform>();
  }
  // How many pickers are over the page (none without the page), the last one's opacity in
  // percent, its frame, and whether the pointer at its place or the keyboard's Tab ever reaches it.
  [[nodiscard]] std::vector<long> pickers() const {
    std::vector<QWidget*> children;  // its dialogs left out
    for (QWidget* child : window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      if (!child->isWindow()) children.push_back(child);
    if (children.empty() || children.front() != view_) return {};
    const QWidget* picker = children.back();
    testsupport::spinUntil([&] { return picker->isVisible(); });
    const auto* effect = qobject_cast<QGraphicsOpacityEffect*>(picker->graphicsEffect());
    const QRect frame = picker->geometry();
    const auto inPicker = [&](const QWidget* widget) {
      return widget != nullptr && (widget == picker || picker->isAncestorOf(widget));
    };
    bool reached = inPicker(window_->childAt(0, 0));
    for (int step = 0; step < 6; ++step) {
      QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
      QApplication::sendEvent(window_.get(), &tab);
      reached = reached || inPicker(window_->focusWidget());
    }
    return {static_cast<long>(children.size()) - 1,
            std::lround(100 * (effect != nullptr ? effect->opacity() : 1.0)),
            frame.x(),
            frame.y(),
            frame.width(),
            frame.height(),
            reached};
  }
  // The chooser sheets on screen, modal over the app's window.
  [[nodiscard]] std::vector<Sheet> sheets() const {
    std::vector<Sheet> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* sheet = qobject_cast<platform::screencast::QtBroadcastChooserSheet*>(widget);
      if (sheet != nullptr && sheet->isVisible() && sheet->isModal() &&
          sheet->parentWidget() == window_.get())
        found.push_back(sheet);
    }
    return found;
  }
  // The sheet's texts in order, a switch as [on] or [off], a button prefixed with '>'
  // when it has the focus and '*' when Enter presses it.
  static std::vector<std::string> describe(Sheet sheet) {
    std::vector<std::string> parts;
    for (const QWidget* widget : sheet->findChildren<QWidget*>()) {
      if (const auto* label = qobject_cast<const QLabel*>(widget))
        parts.push_back(label->text().toStdString());
      if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
        parts.push_back(box->text().toStdString());
        parts.emplace_back(box->isChecked() ? "[on]" : "[off]");
      }
      if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        parts.push_back(std::string(sheet->focusWidget() == button ? ">" : "") +
                        (button->isDefault() ? "*" : "") + button->text().toStdString());
      }
    }
    return parts;
  }
  static void click(Sheet sheet, const std::string& part) {
    sheet->findChild<QAbstractButton*>(QString::fromStdString(part))->click();
  }
  static void closeWindow(Sheet sheet) { sheet->close(); }

 private:
  std::unique_ptr<QWidget> window_;
  QWebEngineView* view_ = nullptr;
  int loads_ = 0;
};

}  // namespace apptest

using EngineHarness = apptest::QtWebEngineHarness;
