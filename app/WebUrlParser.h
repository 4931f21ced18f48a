#pragma once

#include <optional>

#include "app/WebUrl.h"

namespace app {

// Takes apart a URL the web engine reports (GUri). Nothing for a null or empty URL.
// Text that does not parse still gives a WebUrl with its text, the scheme if one can be
// read, and no host, so that it is never mistaken for a page of the service.
std::optional<WebUrl> parseWebUrl(const char* uri);

}  // namespace app
