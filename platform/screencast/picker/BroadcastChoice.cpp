#include "platform/screencast/picker/BroadcastChoice.h"

#include <vector>

#include "platform/screencast/picker/ExtensionLauncher.h"
#include "platform/screencast/picker/ExtensionLookup.h"

namespace platform::screencast {

BroadcastChoice::BroadcastChoice(std::string_view extensionId, bool showsMicrophoneButton)
    : extension_(findExtension(extensionId)), showsMicrophoneButton_(showsMicrophoneButton) {}

const std::string& BroadcastChoice::extensionName() const {
  static const std::string none;
  return extension_ ? extension_->name : none;
}

bool BroadcastChoice::start(bool microphoneOn) {
  if (!extension_) return false;
  std::vector<std::string> arguments{"--capture=auto"};
  if (showsMicrophoneButton_ && microphoneOn) arguments.emplace_back("--microphone");
  if (launchExtension(*extension_, arguments)) return true;
  extension_.reset();
  return false;
}

}  // namespace platform::screencast
