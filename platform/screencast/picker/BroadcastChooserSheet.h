#pragma once

#include <gtk/gtk.h>

#include <string>

#include "platform/screencast/picker/BroadcastChoice.h"

namespace platform::screencast {

// The chooser sheet: a modal window over the app that names the preselected broadcast
// extension and starts it ("Start Broadcast", the default) or does nothing ("Cancel",
// also Escape). Lives as long as its window. Main thread.
class BroadcastChooserSheet {
 public:
  // The sheet's parts are named as BroadcastChoice says (gtk_widget_get_name).

  // Looks up the extension and shows the sheet; `parent` may be null. GTK owns the window.
  static GtkWindow* present(GtkWindow* parent, const std::string& extensionId, bool showsMicrophoneButton);

  BroadcastChooserSheet(const BroadcastChooserSheet&) = delete;
  BroadcastChooserSheet& operator=(const BroadcastChooserSheet&) = delete;
  BroadcastChooserSheet(BroadcastChooserSheet&&) = delete;
  BroadcastChooserSheet& operator=(BroadcastChooserSheet&&) = delete;

 private:
  BroadcastChooserSheet(GtkWindow* window, const std::string& extensionId, bool showsMicrophoneButton);
  ~BroadcastChooserSheet() = default;

  // Shows what the choice offers now: the extension and Start, or only Cancel.
  void show();
  void start();

  static void onStartClicked(GtkButton* button, gpointer sheet);
  static void destroy(gpointer sheet);

  GtkWindow* window_;
  BroadcastChoice choice_;
  GtkWidget* microphoneSwitch_ = nullptr;
};

}  // namespace platform::screencast
