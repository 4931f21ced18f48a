#pragma once

#include <string_view>

namespace platform::http {

// ASCII letters compared without regard to case; other bytes as they are.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Whether a URL's host names this machine: 127.0.0.0/8, [::1] or "localhost" (which is
// only ever resolved to loopback). Shorthand IPv4 forms such as "127.1" must already be
// normalised into dotted quads by the URL parser.
bool isLoopbackHost(std::string_view host);

}  // namespace platform::http
