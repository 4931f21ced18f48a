#pragma once

#include <string>

namespace platform::desktop {

// Hands a URL to the desktop to open outside the app. Called on the main thread.
// SystemOpener is the real one; tests record instead.
class ExternalOpener {
 public:
  virtual ~ExternalOpener() = default;
  virtual void openExternally(const std::string& url) = 0;
};

}  // namespace platform::desktop
