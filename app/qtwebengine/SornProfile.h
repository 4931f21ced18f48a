#pragma once

#include <QWebEngineProfile>
#include <memory>

namespace app {

// The app's QtWebEngine profile: named "sorn", with cookies, local storage and caches under
// $XDG_DATA_HOME/sorn/qtwebengine and $XDG_CACHE_HOME/sorn/qtwebengine, and the engine's
// user agent with " SorniOS/1.0" appended. Off the record (memory only) when those folders
// cannot be used. Main thread.
class SornProfile {
 public:
  // The profile every page of the process shares while one lives; a fresh one otherwise, or
  // when the folders changed. Pages keep it until they are gone.
  static std::shared_ptr<QWebEngineProfile> shared();
};

}  // namespace app
