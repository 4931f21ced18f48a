#include "app/WebUrlParser.h"

#include <glib.h>

namespace app {

std::optional<WebUrl> parseWebUrl(const char* uri) {
  if (uri == nullptr || *uri == '\0') return std::nullopt;
  WebUrl url;
  url.text = uri;
  // Schemes come back in lower case from both calls.
  if (g_autoptr(GUri) parsed = g_uri_parse(uri, G_URI_FLAGS_ENCODED, nullptr); parsed != nullptr) {
    url.scheme = g_uri_get_scheme(parsed);
    if (const char* host = g_uri_get_host(parsed); host != nullptr && *host != '\0') url.host = host;
  } else if (g_autofree char* scheme = g_uri_parse_scheme(uri); scheme != nullptr) {
    // Not g_uri_peek_scheme, which interns every scheme for the life of the process.
    g_autofree char* lower = g_ascii_strdown(scheme, -1);
    url.scheme = lower;
  }
  return url;
}

}  // namespace app
