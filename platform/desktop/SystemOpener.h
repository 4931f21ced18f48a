#pragma once

#include <string>

#include "platform/desktop/ExternalOpener.h"

namespace platform::desktop {

// Opens a URL with the desktop's default handler for its scheme (GIO, so the user's
// mimeapps.list decides which program). Only http, https, mailto, tel and sms leave the
// app; any other scheme is dropped silently, since on a desktop a local scheme can start
// local programs. Failures are silent too. Main thread.
class SystemOpener final : public ExternalOpener {
 public:
  static SystemOpener& shared();

  void openExternally(const std::string& url) override;

 private:
  SystemOpener() = default;
};

}  // namespace platform::desktop
