// Baseline for the QtWebEngine app's start-up and memory: a bare Qt window of the app's size
// with one QtWebEngine view loading the URL it is given, running until SIGTERM.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

#include "app/SornApp.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  QApplication application(argc, argv);
  QWebEngineView view;
  view.resize(app::SornApp::kDefaultWidth, app::SornApp::kDefaultHeight);
  view.load(QUrl(QString::fromLocal8Bit(argv[1])));
  view.show();
  return QApplication::exec();
}
