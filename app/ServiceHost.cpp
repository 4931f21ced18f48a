#include "app/ServiceHost.h"

#include "platform/http/HostNames.h"

namespace app {

using platform::http::equalsIgnoringCase;

bool isServiceHost(std::string_view host, std::string_view serviceDomain) {
  // An empty domain would make every host ending in "." a service host.
  if (host.empty() || serviceDomain.empty()) return false;
  if (equalsIgnoringCase(host, serviceDomain)) return true;
  if (host.size() <= serviceDomain.size() + 1) return false;
  const std::string_view tail = host.substr(host.size() - serviceDomain.size());
  return host[host.size() - serviceDomain.size() - 1] == '.' && equalsIgnoringCase(tail, serviceDomain);
}

}  // namespace app
