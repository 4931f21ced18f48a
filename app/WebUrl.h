#pragma once

#include <optional>
#include <string>

namespace app {

// A URL as the web engine reported it, taken apart by the adapter: what the
// Coordinator's decisions look at.
struct WebUrl {
  std::string text;                 // the whole URL, handed on unchanged
  std::string scheme;               // lower case, e.g. "https", "about", "mailto"
  std::optional<std::string> host;  // absent for URLs without one (mailto:, about:, data:)
};

}  // namespace app
