#include "app/qtwebengine/SornProfile.h"

#include <glib.h>

#include <filesystem>

#include "app/UsableFolder.h"

namespace app {
namespace {

constexpr const char* kStorageName = "sorn";
constexpr const char* kApplicationDetails = " SorniOS/1.0";

QString qtPath(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

}  // namespace

std::shared_ptr<QWebEngineProfile> SornProfile::shared() {
  const std::filesystem::path dataDir = std::filesystem::path(g_get_user_data_dir()) / "sorn" / "qtwebengine";
  const std::filesystem::path cacheDir =
      std::filesystem::path(g_get_user_cache_dir()) / "sorn" / "qtwebengine";
  // Two named profiles on the same folders would open the same databases twice.
  static std::weak_ptr<QWebEngineProfile> live;
  static std::filesystem::path liveDataDir;
  if (auto profile = live.lock(); profile && liveDataDir == dataDir) return profile;

  std::shared_ptr<QWebEngineProfile> profile;
  if (!isUsableFolder(dataDir) || !isUsableFolder(cacheDir)) {
    g_debug("%s or %s cannot be used: cookies and caches are kept in memory only", dataDir.c_str(),
            cacheDir.c_str());
    profile = std::make_shared<QWebEngineProfile>();
  } else {
    profile = std::make_shared<QWebEngineProfile>(QString::fromLatin1(kStorageName));
    profile->setPersistentStoragePath(qtPath(dataDir));
    profile->setCachePath(qtPath(cacheDir));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    live = profile;
    liveDataDir = dataDir;
  }
  profile->setHttpUserAgent(profile->httpUserAgent() + QString::fromLatin1(kApplicationDetails));
  return profile;
}

}  // namespace app
