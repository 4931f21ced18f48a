#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher/QtLauncherPlatform.h"
#include "platform/screencast/picker/QtBroadcastChooserSheet.h"
#include "platform/screencast/picker/QtBroadcastPickerView.h"
#include "tests/support/MainLoopSpin.h"

namespace testsupport {

// The launcher's tests on Qt widgets: the app's window (a focusable page in it), the
// picker in it and the chooser sheets. Qt runs its events on GLib's default main
// context, so spinUntil drives both. Test thread.
class LauncherHarness {
 public:
  using Sheet = QDialog*;

  LauncherHarness() {
    // One application per process, as in the app.
    static int argc = 1;
    static char name[] = "launcher-test";
    static char* argv[] = {name, nullptr};
    static QApplication* const application = new QApplication(argc, argv);
    (void)application;
  }
  ~LauncherHarness() {
    delete window_.data();
    for (QWidget* widget : QApplication::topLevelWidgets()) widget->close();
    spinUntil([] { return windowCount() == 0; });
  }
  LauncherHarness(const LauncherHarness&) = delete;
  LauncherHarness& operator=(const LauncherHarness&) = delete;

  static std::unique_ptr<app::LauncherPlatform> platform() {
    return std::make_unique<app::QtLauncherPlatform>();
  }

  // Shows the app's window and makes it the active one.
  void openWindow() {
    window_ = new QWidget();
    page_ = new QPushButton("page", window_);
    page_->setGeometry(0, 0, 200, 100);
    window_->resize(200, 100);
    window_->show();
    window_->activateWindow();
    spinUntil([&] { return QApplication::activeWindow() == window_; });
  }

  static std::size_t windowCount() {
    std::size_t count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) count += widget->isVisible() ? 1 : 0;
    return count;
  }

  // How many pickers are over the page (none without the page), the last one's opacity in
  // percent and its frame.
  [[nodiscard]] std::vector<long> pickers() const {
    const auto children = content();
    if (children.empty() || children.front() != page_) return {};
    const QWidget* picker = this->picker();
    spinUntil([&] { return picker->isVisible(); });
    const auto* effect = qobject_cast<QGraphicsOpacityEffect*>(picker->graphicsEffect());
    const QRect frame = picker->geometry();
    return {static_cast<long>(children.size()) - 1,
            std::lround(100 * (effect != nullptr ? effect->opacity() : 1.0)),
            frame.x(),
            frame.y(),
            frame.width(),
            frame.height()};
  }
  // Whether the pointer at the picker's place or the keyboard's Tab ever reaches it.
  [[nodiscard]] bool pickerReachable() const {
    const QWidget* picker = this->picker();
    const auto inPicker = [&](const QWidget* widget) {
      return widget != nullptr && (widget == picker || picker->isAncestorOf(widget));
    };
    bool reached = inPicker(window_->childAt(0, 0));
    for (int step = 0; step < 6; ++step) {
      QWidget* focus = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window_.data();
      QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
      QApplication::sendEvent(focus, &tab);
      reached = reached || inPicker(QApplication::focusWidget());
    }
    return reached;
  }

  [[nodiscard]] static std::vector<Sheet> sheets() {
    std::vector<Sheet> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* sheet = qobject_cast<platform::screencast::QtBroadcastChooserSheet*>(widget)) {
        if (sheet->isVisible()) found.push_back(sheet);
      }
    }
    return found;
  }
  [[nodiscard]] bool isModalOverWindow(Sheet sheet) const {
    return sheet->isModal() && sheet->parentWidget() == window_;
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

  static void click(Sheet sheet, const char* part) { sheet->findChild<QAbstractButton*>(part)->click(); }
  static void closeWindow(Sheet sheet) { sheet->close(); }

 private:
  // The window's child widgets, its dialogs left out.
  [[nodiscard]] std::vector<QWidget*> content() const {
    std::vector<QWidget*> children;
    for (QWidget* child : window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!child->isWindow()) children.push_back(child);
    }
    return children;
  }
  [[nodiscard]] QWidget* picker() const { return content().back(); }

  QPointer<QWidget> window_;
  QPointer<QPushButton> page_;
};

}  // namespace testsupport
