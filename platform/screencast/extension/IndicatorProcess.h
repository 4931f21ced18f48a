#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/gobject/ObjectRef.h"

namespace platform::screencast {

// The "Sharing your screen" indicator, run as a small GTK program of its own so that
// GTK stays out of the extension's memory budget. The indicator reports Stop on its
// standard output; it shows an error that is written to its standard input and keeps
// showing it after this process has gone. Main thread only.
//
// Lines on the indicator's standard output: "stop". Lines on its standard input:
// "error <description, escaped as g_strescape does>". End of input closes it, unless
// it shows an error, which the user dismisses.
class IndicatorProcess {
 public:
  // The indicator program beside the running executable:
  // <dir of /proc/self/exe>/../libexec/sorn/sorn-broadcast-indicator.
  static std::string programPath();

  // Starts the indicator; nothing when it cannot be started. onStop runs on the main
  // thread when the user presses Stop or closes the indicator.
  static std::unique_ptr<IndicatorProcess> spawn(const std::string& program, std::function<void()> onStop);

  ~IndicatorProcess();
  IndicatorProcess(const IndicatorProcess&) = delete;
  IndicatorProcess& operator=(const IndicatorProcess&) = delete;

  // Hands the indicator an error to show, then lets it go.
  void showError(const std::string& description);
  // Lets the indicator go: it closes.
  void close();

 private:
  IndicatorProcess(gobject::ObjectRef<GSubprocess> process, std::function<void()> onStop);
  void readNextLine();
  static void onLine(GObject* source, GAsyncResult* result, gpointer self);

  gobject::ObjectRef<GSubprocess> process_;
  gobject::ObjectRef<GDataInputStream> output_;
  gobject::ObjectRef<GCancellable> cancellable_;
  std::function<void()> onStop_;
  bool closed_ = false;
};

}  // namespace platform::screencast
