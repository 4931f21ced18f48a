#include "app/ServiceHost.h"

#include <algorithm>

namespace app {
namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace

bool isServiceHost(std::string_view host, std::string_view serviceDomain) {
  // An empty domain would make every host ending in "." a service host.
  if (host.empty() || serviceDomain.empty()) return false;
  if (equalsIgnoringCase(host, serviceDomain)) return true;
  if (host.size() <= serviceDomain.size() + 1) return false;
  const std::string_view tail = host.substr(host.size() - serviceDomain.size());
  return host[host.size() - serviceDomain.size() - 1] == '.' && equalsIgnoringCase(tail, serviceDomain);
}

}  // namespace app
