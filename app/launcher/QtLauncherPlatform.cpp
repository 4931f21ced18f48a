#include "app/launcher/QtLauncherPlatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QWidget>

#include "app/launcher/BroadcastPickerHost.h"
#include "platform/screencast/picker/QtBroadcastPickerView.h"

namespace app {
namespace {

class QtLauncherView : public LauncherView {
 public:
  explicit QtLauncherView(QWidget* widget) : widget_(widget) {}

  // Null once Qt has deleted the widget.
  [[nodiscard]] QWidget* widget() const { return widget_.data(); }

  [[nodiscard]] bool hasSuperview() const override {
    const QWidget* widget = widget_.data();
    return widget != nullptr && widget->parentWidget() != nullptr;
  }

  void setAlpha(double alpha) override {
    QWidget* widget = widget_.data();
    if (widget == nullptr) return;
    // Child widgets have no opacity of their own; the effect paints them with one.
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(alpha);
    widget->setGraphicsEffect(effect);
  }

  void setUserInteractionEnabled(bool enabled) override {
    QWidget* widget = widget_.data();
    if (widget == nullptr) return;
    widget->setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
    // The focus policy is each widget's own, so the inner button cannot be tabbed to either.
    const Qt::FocusPolicy policy = enabled ? Qt::StrongFocus : Qt::NoFocus;
    widget->setFocusPolicy(policy);
    for (QWidget* child : widget->findChildren<QWidget*>()) child->setFocusPolicy(policy);
  }

  [[nodiscard]] std::vector<std::unique_ptr<LauncherView>> subviews() const override {
    std::vector<std::unique_ptr<LauncherView>> children;
    const QWidget* widget = widget_.data();
    if (widget == nullptr) return children;
    for (QWidget* child : widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      children.push_back(std::make_unique<QtLauncherView>(child));
    }
    return children;
  }

  [[nodiscard]] bool isButton() const override {
    return qobject_cast<QAbstractButton*>(widget_.data()) != nullptr;
  }

  void sendActions() override {
    if (auto* button = qobject_cast<QAbstractButton*>(widget_.data())) button->click();
  }

 private:
  QPointer<QWidget> widget_;
};

// The window the application counts as its active one: the focused one, or, while another
// program has the focus, its first shown main window, as a GTK application keeps one.
QWidget* applicationActiveWindow() {
  if (QWidget* focused = QApplication::activeWindow()) return focused;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowType() == Qt::Window && widget->isVisible()) return widget;
  }
  return nullptr;
}

class QtLauncherWindow : public LauncherWindow {
 public:
  explicit QtLauncherWindow(QWidget* window) : window_(window) {}

  [[nodiscard]] bool isApplicationActiveWindow() const override {
    const QWidget* window = window_.data();
    return window != nullptr && window == applicationActiveWindow();
  }

  [[nodiscard]] bool isActive() const override {
    const QWidget* window = window_.data();
    return window != nullptr && window->isActiveWindow();
  }

  // The view keeps its geometry and stays above the window's content.
  void addSubview(LauncherView& view) override {
    auto* qtView = dynamic_cast<QtLauncherView*>(&view);
    QWidget* window = window_.data();
    QWidget* widget = qtView != nullptr ? qtView->widget() : nullptr;
    if (window == nullptr || widget == nullptr) return;
    const QRect frame = widget->geometry();
    widget->setParent(window);
    widget->setGeometry(frame);
    widget->raise();
    widget->show();
  }

 private:
  QPointer<QWidget> window_;
};

}  // namespace

std::vector<std::unique_ptr<LauncherWindow>> QtLauncherPlatform::windows() {
  std::vector<std::unique_ptr<LauncherWindow>> windows;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    // Shown windows and dialogs. Menus and tooltips are no place for the picker, and a
    // hidden top-level is a closed window or a widget not placed anywhere yet.
    const Qt::WindowType type = widget->windowType();
    if ((type == Qt::Window || type == Qt::Dialog) && widget->isVisible()) {
      windows.push_back(std::make_unique<QtLauncherWindow>(widget));
    }
  }
  return windows;
}

std::unique_ptr<LauncherView> QtLauncherPlatform::makePicker(const PickerSettings& settings) {
  auto* picker = new platform::screencast::QtBroadcastPickerView();
  picker->setPreferredExtension(settings.preferredExtension);
  picker->setShowsMicrophoneButton(settings.showsMicrophoneButton);
  // The frame: a fixed size at a fixed offset from the top-left corner of whatever holds it.
  picker->setGeometry(settings.x, settings.y, settings.width, settings.height);
  return std::make_unique<QtLauncherView>(picker);
}

BroadcastPickerHost& BroadcastPickerHost::shared() {
  // Deliberately never destroyed: the host and its picker last to the end of the process,
  // and no widget is released after the application has gone away.
  static auto* const host = new BroadcastPickerHost(std::make_unique<QtLauncherPlatform>());
  return *host;
}

}  // namespace app
