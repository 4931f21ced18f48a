// The app on QtWebEngine: one Qt window, kept to one instance by a GApplication of the same
// id. Qt on Linux runs the GLib main loop, so the GApplication, the main queue and the
// widget reload signal work under it as they do under GTK.
#include "app/SornApp.h"

#include <gio/gio.h>

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/qtwebengine/QtRootView.h"
#include "platform/gobject/ObjectRef.h"

namespace app {
namespace {

// Chromium's dark preference, which pages see as prefers-color-scheme: dark. It is read
// from the environment when the engine starts.
void preferDarkPages() {
  const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  std::string all = flags != nullptr ? std::string(flags) + " " : std::string();
  all += "--force-dark-mode";
  g_setenv("QTWEBENGINE_CHROMIUM_FLAGS", all.c_str(), TRUE);
}

QPalette darkPalette() {
  QPalette palette;
  const QColor window(0x1c, 0x1c, 0x1e);
  const QColor base(0x2c, 0x2c, 0x2e);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, Qt::white);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::Text, Qt::white);
  palette.setColor(QPalette::Button, base);
  palette.setColor(QPalette::ButtonText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, base);
  palette.setColor(QPalette::ToolTipText, Qt::white);
  palette.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  return palette;
}

void raise(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

int SornApp::main(int argc, char** argv) {
  // A second start hands over to the running app, which raises its window, and ends here
  // before any engine is started.
  auto application = platform::gobject::ObjectRef<GApplication>::adopt(
      g_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS));
  g_autoptr(GError) error = nullptr;
  if (!g_application_register(application.get(), nullptr, &error)) {
    g_log("sorn", G_LOG_LEVEL_DEBUG, "running without a single instance: %s", error->message);
  } else if (g_application_get_is_remote(application.get())) {
    g_application_activate(application.get());
    if (GDBusConnection* bus = g_application_get_dbus_connection(application.get())) {
      g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }
    return 0;
  }

  preferDarkPages();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication qtApplication(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setPalette(darkPalette());
  QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kApplicationId)));

  // One window for the app's whole life; a later activation only raises it.
  QWidget window;
  window.setWindowTitle(QStringLiteral("Sorn"));
  window.resize(kDefaultWidth, kDefaultHeight);
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(QtRootView::body());
  g_signal_connect(
      application.get(), "activate",
      G_CALLBACK(+[](GApplication* /*application*/, gpointer data) { raise(*static_cast<QWidget*>(data)); }),
      &window);
  // Activated as well as shown: the broadcast picker goes to the application's active
  // window, which Qt leaves unset until a window manager or the app activates one.
  raise(window);
  const int status = QApplication::exec();
  g_signal_handlers_disconnect_by_data(application.get(), &window);
  return status;
}

}  // namespace app
