#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "platform/screencast/picker/ExtensionMetadata.h"

namespace platform::screencast {

// The chooser sheet: a modal window over the app that names the preselected broadcast
// extension and starts it ("Start Broadcast", the default) or does nothing ("Cancel",
// also Escape). Lives as long as its window. Main thread.
class BroadcastChooserSheet {
 public:
  // Widget names of the sheet's parts, for accessibility tools and tests.
  static constexpr const char* kExtensionNameWidget = "extension-name";
  static constexpr const char* kMessageWidget = "sheet-message";
  static constexpr const char* kMicrophoneSwitchWidget = "microphone-switch";
  static constexpr const char* kStartWidget = "start-broadcast";
  static constexpr const char* kCancelWidget = "cancel";

  // Looks up the extension and shows the sheet; `parent` may be null. GTK owns the window.
  static GtkWindow* present(GtkWindow* parent, const std::string& extensionId, bool showsMicrophoneButton);

  BroadcastChooserSheet(const BroadcastChooserSheet&) = delete;
  BroadcastChooserSheet& operator=(const BroadcastChooserSheet&) = delete;
  BroadcastChooserSheet(BroadcastChooserSheet&&) = delete;
  BroadcastChooserSheet& operator=(BroadcastChooserSheet&&) = delete;

 private:
  BroadcastChooserSheet(GtkWindow* window, std::optional<ExtensionMetadata> extension,
                        bool showsMicrophoneButton);
  ~BroadcastChooserSheet() = default;

  void showChoice();
  void showUnavailable();
  void start();

  static void onStartClicked(GtkButton* button, gpointer sheet);
  static void destroy(gpointer sheet);

  GtkWindow* window_;
  std::optional<ExtensionMetadata> extension_;
  bool showsMicrophoneButton_;
  GtkWidget* microphoneSwitch_ = nullptr;
};

}  // namespace platform::screencast
