#pragma once

#include <QWebEnginePage>
#include <chrono>
#include <string>

namespace app {

// Loads a fresh request (GET, no body, no extra headers) for a URL into a page. When no
// response has arrived within the timeout, the load is stopped and fails as the engine
// fails any stopped load. Main thread.
class QtRequestLoader {
 public:
  static constexpr std::chrono::milliseconds kTimeout{60'000};

  static void load(QWebEnginePage& page, const std::string& url,
                   std::chrono::milliseconds timeout = kTimeout);
};

}  // namespace app
