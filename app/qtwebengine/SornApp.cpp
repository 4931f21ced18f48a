// The app on QtWebEngine: one Qt window, kept to one instance by a GApplication of the same
// id. Qt on Linux runs the GLib main loop, so the GApplication, the main queue and the
// widget reload signal work under it as they do under GTK.
#include "app/SornApp.h"

#include <gio/gio.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QPalette>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/qtwebengine/QtApplication.h"
#include "app/qtwebengine/QtRootView.h"
#include "platform/dispatch/StopSignals.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/text/CommandLine.h"

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

// The exit status when the command line asks for no window (--help, --version) or is
// wrong. Read by a core application of its own before anything else starts, so that it
// answers without a display and never hands over to a running app; the engine only
// sets itself up under the QApplication that follows.
std::optional<int> answerCommandLine(int& argc, char** argv) {
  const QCoreApplication commandLine(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(_(kDescription)));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QString::fromUtf8(_(kHelpOptionDescription)));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QString::fromUtf8(platform::text::versionOptionDescription()));
  parser.addOption(help);
  parser.addOption(version);
  if (!parser.parse(QCoreApplication::arguments())) {
    platform::text::printCommandLineError(kProgramName, parser.errorText().toStdString());
    return 1;
  }
  if (!parser.positionalArguments().isEmpty()) {
    platform::text::printUnexpectedArgument(kProgramName,
                                            parser.positionalArguments().constFirst().toStdString());
    return 1;
  }
  if (parser.isSet(version)) {
    platform::text::printVersion(kProgramName);
    return 0;
  }
  if (parser.isSet(help)) {
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<QApplication> makeQtApplication(int& argc, char** argv) {
  preferDarkPages();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  auto application = std::make_unique<QApplication>(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(SornApp::kApplicationId));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setPalette(darkPalette());
  QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(SornApp::kApplicationId)));
  return application;
}

int SornApp::main(int argc, char** argv) {
  platform::text::initTranslations();
  if (const auto status = answerCommandLine(argc, argv)) return *status;

  // A second start hands over to the running app, which raises its window, and ends here
  // before any engine is started.
  auto application = platform::gobject::ObjectRef<GApplication>::adopt(
      g_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS));
  g_autoptr(GError) error = nullptr;
  if (g_application_register(application.get(), nullptr, &error) == FALSE) {
    g_debug("running without a single instance: %s", error->message);
  } else if (g_application_get_is_remote(application.get()) != FALSE) {
    g_application_activate(application.get());
    if (GDBusConnection* bus = g_application_get_dbus_connection(application.get())) {
      g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    }
    return 0;
  }

  // Ended like a closed window: the window, its page and the profile go before the
  // application, so that the engine writes its cookies and storage.
  const platform::dispatch::StopSignals stopSignals([] { QCoreApplication::quit(); });
  const auto qtApplication = makeQtApplication(argc, argv);

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
