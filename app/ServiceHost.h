#pragma once

#include <string_view>

namespace app {

// Whether a host belongs to the service: it is the service domain itself or a subdomain
// of it ("app.sorn.chat" for "sorn.chat"), compared without regard to ASCII letter case.
// A host that merely ends with the domain's characters ("evilsorn.chat") does not.
bool isServiceHost(std::string_view host, std::string_view serviceDomain);

}  // namespace app
