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
  // Not g_uri_peek_scheme: it interns every scheme it sees for the life of the process,
  // so a page could grow the app's memory without bound with made-up schemes.
  char* parsedScheme = g_uri_parse_scheme(url.c_str());
  if (parsedScheme == nullptr) return;
  char* scheme = g_ascii_strdown(parsedScheme, -1);
  const bool allowed = leavesTheApp(scheme);
  g_free(scheme);
  g_free(parsedScheme);
  if (!allowed) return;
  g_autoptr(GError) error = nullptr;
  if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error) == FALSE)
    g_debug("no program opened %s: %s", url.c_str(), error->message);
}

}  // namespace platform::desktop
