#pragma once

#include <QApplication>
#include <memory>

namespace app {

// The Qt application as the app runs it: pages and widgets dark, the Fusion style, the
// app's icon and desktop file. Made once, before any web view; the engine needs it until
// the process ends. `argc` and `argv` outlive it. Main thread.
std::unique_ptr<QApplication> makeQtApplication(int& argc, char** argv);

}  // namespace app
