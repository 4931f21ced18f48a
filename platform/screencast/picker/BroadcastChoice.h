#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/screencast/picker/ExtensionMetadata.h"
#include "platform/text/Translation.h"

namespace platform::screencast {

// What the chooser sheet offers and does, whichever toolkit draws it: the extension
// looked up when the sheet opens, the texts of the sheet's parts (as written here, for
// the views to translate), and the start of the extension. Main thread.
class BroadcastChoice {
 public:
  static constexpr const char* kTitle = N_("Screen Broadcast");
  static constexpr const char* kShareWarning =
      N_("Everything on your screen will be shared while the broadcast runs.");
  static constexpr const char* kUnavailable = N_("No broadcast extension is available.");
  static constexpr const char* kMicrophoneLabel = N_("Microphone");
  static constexpr const char* kStartLabel = N_("Start Broadcast");
  static constexpr const char* kCancelLabel = N_("Cancel");

  // Names of the sheet's parts, for accessibility tools and tests.
  static constexpr const char* kExtensionNameWidget = "extension-name";
  static constexpr const char* kMessageWidget = "sheet-message";
  static constexpr const char* kMicrophoneSwitchWidget = "microphone-switch";
  static constexpr const char* kStartWidget = "start-broadcast";
  static constexpr const char* kCancelWidget = "cancel";

  // Looks the extension up now, so that one installed while the app runs is found
  // without a restart.
  BroadcastChoice(std::string_view extensionId, bool showsMicrophoneButton);

  // Whether the sheet offers Start; without it the sheet shows only `message()` and Cancel.
  [[nodiscard]] bool offersStart() const { return extension_.has_value(); }
  // The extension's display name; empty when Start is not offered.
  [[nodiscard]] const std::string& extensionName() const;
  [[nodiscard]] const char* message() const { return offersStart() ? kShareWarning : kUnavailable; }
  [[nodiscard]] bool showsMicrophoneSwitch() const { return offersStart() && showsMicrophoneButton_; }

  // Launches the extension to capture the screen as the session allows (X11 or the
  // desktop's screen-cast portal), with the microphone when the switch is
  // shown and on. True when it started and the sheet closes; otherwise the program went
  // away since the lookup or cannot run, and from now on Start is not offered.
  bool start(bool microphoneOn);

 private:
  std::optional<ExtensionMetadata> extension_;
  bool showsMicrophoneButton_;
};

}  // namespace platform::screencast
