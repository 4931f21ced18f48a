#include "platform/desktop/SystemOpener.h"

#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace platform::desktop {
namespace {

bool leavesTheApp(std::string_view scheme) {
  constexpr std::array<std::string_view, 5> kSchemes = {"http", "https", "mailto", "tel", "sms"};
  return std::ranges::find(kSchemes, scheme) != kSchemes.end();
}

}  // namespace

SystemOpener& SystemOpener::shared() {
  static SystemOpener instance;
  return instance;
}

void SystemOpener::openExternally(const std::string& url) {
  // g_uri_peek_scheme gives the scheme in lower case, or nothing for text that is no URI.
  const char* scheme = g_uri_peek_scheme(url.c_str());
  if (scheme == nullptr || !leavesTheApp(scheme)) return;
  GError* error = nullptr;
  if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error) == FALSE) g_clear_error(&error);
}

}  // namespace platform::desktop
